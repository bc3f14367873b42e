#include "base/settings.h"

int32_t listen_port = 0;
char dev_origin[kDevOriginCapacity] = {};
volatile sig_atomic_t stop_flag = 0;
uint64_t start_ms = 0;
int stop_wake_fd = -1;
bool scan_right_held = false;
bool wifi_adapter_found = false;
bool wifi_simulated = false;
