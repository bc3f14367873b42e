#pragma once

#include <cstdint>
#include <memory>

#include "fake_kernel.h"
#include "scene.h"

// The stand-in kernel's answers for a scene: it decodes each request the way nl80211 would and
// replies with messages laid out as the kernel lays them out (attribute numbers from
// <linux/nl80211.h> and <linux/genetlink.h>; dumps packed into datagrams of up to 32 KiB and
// ended by a separate NLMSG_DONE datagram).

// The reply to `request` at `now_ms` (which moves a swinging station signal).
FakeReply answer_from_scene(const Scene& scene, const Bytes& request, uint64_t now_ms);

// A responder serving `scene`, reading the monotonic clock for the station signal.
FakeResponder scene_responder(std::shared_ptr<const Scene> scene);

// The station signal of `scene` at `now_ms`: the base value moved by up to `swing_db` along a
// triangle wave of `period_ms` (a moving signal skips 0, which means no value).
int station_signal_at(const SceneStation& station, uint64_t now_ms);
