#pragma once

// Test support for the simulator: a scene file written for one test, and the options that start
// the simulator on it. Include only from tests that link `tivel_sim_path` (which defines
// TIVEL_SIM_PATH).

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/helper_process.h"

// A scene file in /tmp holding `text`, removed when the object goes.
struct SceneFile {
  std::string path;
  explicit SceneFile(const std::string& text) {
    char name[] = "/tmp/tivel-scene-XXXXXX";
    int fd = mkstemp(name);
    path = name;
    if (fd >= 0) {
      (void)!write(fd, text.data(), text.size());
      close(fd);
    }
  }
  ~SceneFile() { unlink(path.c_str()); }
  SceneFile(const SceneFile&) = delete;
  SceneFile& operator=(const SceneFile&) = delete;
};

// Options that start the simulator (TIVEL_SIM when set) serving the scene file at `scene_path`
// (empty: the demo).
inline HelperOptions sim_options(const std::string& scene_path) {
  HelperOptions options;
  options.path = binary_path("TIVEL_SIM", TIVEL_SIM_PATH);
  options.env.push_back("TIVEL_SIM_SCENE=" + scene_path);
  return options;
}
