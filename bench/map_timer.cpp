// Starts a program and prints the milliseconds from its exec to its first top-level window being
// mapped, then ends it (MAP_TIMER_LINGER_MS later, when set). Run on an X server without a window
// manager, so that the program's own window is a child of the root window:
// map_timer PROGRAM [ARGS...]. Exit 1 when no window comes within 10 s.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

bool WaitForMap(xcb_connection_t* connection, Clock::time_point deadline) {
  const int fd = xcb_get_file_descriptor(connection);
  while (Clock::now() < deadline) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                          !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
      std::free(event);
      if (mapped) return true;
    }
    pollfd watched{fd, POLLIN, 0};
    ::poll(&watched, 1, 10);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: map_timer PROGRAM [ARGS...]\n");
    return 2;
  }
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "map_timer: no X server\n");
    return 2;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection);

  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  const bool mapped = WaitForMap(connection, start + std::chrono::seconds(10));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (const char* linger = std::getenv("MAP_TIMER_LINGER_MS")) usleep(1000 * std::atoi(linger));
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  xcb_disconnect(connection);
  if (!mapped) return 1;
  std::printf("%.1f\n", ms);
  return 0;
}
