// The helper with the stand-in kernel in place of the real one, serving a scene: the file named
// by TIVEL_SIM_SCENE, or the built-in demo. For tests, demos and benchmarks on machines without
// WiFi; never shipped. With TIVEL_SIM_TRACE set, each request's type and command are appended
// to that file.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/startup.h"
#include "fake_kernel.h"
#include "scene.h"
#include "scene_kernel.h"

int main(int argc, char** argv) {
  const char* path = std::getenv("TIVEL_SIM_SCENE");
  auto scene = std::make_shared<Scene>();
  std::string error;
  bool loaded = path != nullptr && path[0] != '\0'
                    ? load_scene_file(path, scene.get(), &error)
                    : parse_scene(demo_scene_text(), scene.get(), &error);
  if (!loaded) {
    std::fprintf(stderr, "tamberline-tivel-helper-sim: bad scene: %s\n", error.c_str());
    return 3;
  }
  fake_kernel_reset();
  fake_kernel_keep_requests(false);
  fake_kernel_set_silence_ms(-1);  // a silent kernel costs the full receive time-out
  FakeResponder respond = scene_responder(scene);
  const char* trace = std::getenv("TIVEL_SIM_TRACE");
  if (trace != nullptr && trace[0] != '\0') {
    // One line per request, "<netlink type> <generic command>", so tests outside the process can
    // count what reached the kernel (how many scans were triggered, for one).
    // Opened now: once the helper's system call filter is in force, no file can be opened.
    FILE* out = std::fopen(trace, "a");
    if (out == nullptr) {
      std::fprintf(stderr, "tamberline-tivel-helper-sim: cannot write the trace %s\n", trace);
      return 3;
    }
    respond = [respond, out](const Bytes& request) {
      unsigned type = request.size() >= 6 ? request[4] | request[5] << 8 : 0;
      unsigned cmd = request.size() >= 17 ? request[16] : 0;
      std::fprintf(out, "%u %u\n", type, cmd);
      std::fflush(out);
      return respond(request);
    };
  }
  fake_kernel_respond(respond);
  // Fake data is easy to take for real: the banner says whose it is.
  std::string note = "SIMULATED WiFi, not this computer's: serving ";
  note += path != nullptr && path[0] != '\0' ? std::string("the scene ") + path
                                             : std::string("the built-in demo scene");
  note += ".";
  return helper_main(argc, argv, fake_kernel_port(), note.c_str());
}
