#pragma once

#include <cstdint>
#include <memory>

#include "fake_kernel.h"
#include "scene.h"

// The stand-in kernel's answers for a scene: it decodes each request the way nl80211 would and
// replies with messages laid out as the kernel lays them out (attribute numbers from
// <linux/nl80211.h> and <linux/genetlink.h>; dumps packed into datagrams of up to 32 KiB and
// ended by a separate NLMSG_DONE datagram).

// The reply to `request` at `now_ms` since the scene began (which moves a swinging station signal
// and decides where the scene's timed changes have taken the association).
FakeReply answer_from_scene(const Scene& scene, const Bytes& request, uint64_t now_ms);

// A responder serving `scene` from now on, reading the monotonic clock. Also hands the stand-in
// the notifications of the scene's changes of association, timed from now (so make the stand-in
// the kernel port before), and, for `notify off`, makes joining further groups fail.
FakeResponder scene_responder(std::shared_ptr<const Scene> scene);

// The station signal of `scene` at `now_ms`: the base value moved by up to `swing_db` along a
// triangle wave of `period_ms` (a moving signal skips 0, which means no value).
int station_signal_at(const SceneStation& station, uint64_t now_ms);
