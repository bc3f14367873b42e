// What checking a connection's owner adds to each accepted connection: one exact socket
// diagnostics look-up of the peer's socket, beside a loopback connect, accept and close without
// it. Prints Google Benchmark's table.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "server/peer_owner.h"

namespace {

struct Loopback {
  int listen_fd = -1;
  sockaddr_in local{};
};

Loopback listen_loopback() {
  Loopback l;
  l.listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  l.local.sin_family = AF_INET;
  l.local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof l.local;
  if (bind(l.listen_fd, reinterpret_cast<sockaddr*>(&l.local), sizeof l.local) != 0 ||
      listen(l.listen_fd, 64) != 0 ||
      getsockname(l.listen_fd, reinterpret_cast<sockaddr*>(&l.local), &length) != 0) {
    std::perror("listen");
  }
  return l;
}

// One connection: the client's socket, the accepted one and the peer's address.
struct Connection {
  int client = -1;
  int accepted = -1;
  sockaddr_in peer{};
};

Connection connect_and_accept(const Loopback& l) {
  Connection c;
  c.client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  (void)connect(c.client, reinterpret_cast<const sockaddr*>(&l.local), sizeof l.local);
  socklen_t length = sizeof c.peer;
  c.accepted = accept4(l.listen_fd, reinterpret_cast<sockaddr*>(&c.peer), &length, SOCK_CLOEXEC);
  return c;
}

void close_connection(const Connection& c) {
  // A reset, so that no socket lingers in TIME_WAIT and the port search stays cheap.
  linger reset{1, 0};
  setsockopt(c.client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(c.client);
  close(c.accepted);
}

void BM_OwnerLookUp(benchmark::State& state) {
  Loopback l = listen_loopback();
  char reason[200];
  PeerOwnerCheck check{peer_owner_open(l.listen_fd, reason, sizeof reason),
                       static_cast<uint32_t>(geteuid())};
  if (check.diag_fd < 0) {
    state.SkipWithError(reason);
    return;
  }
  Connection c = connect_and_accept(l);
  uint32_t uid = 0;
  for (auto _ : state) benchmark::DoNotOptimize(peer_owner_allowed(check, c.peer, l.local, &uid));
  close_connection(c);
  close(check.diag_fd);
  close(l.listen_fd);
}
BENCHMARK(BM_OwnerLookUp);

// The accept the look-up is added to, for scale: connect, accept, close, with and without it.
void BM_ConnectAcceptClose(benchmark::State& state) {
  Loopback l = listen_loopback();
  char reason[200];
  PeerOwnerCheck check{
      state.range(0) != 0 ? peer_owner_open(l.listen_fd, reason, sizeof reason) : -1,
      static_cast<uint32_t>(geteuid())};
  uint32_t uid = 0;
  for (auto _ : state) {
    Connection c = connect_and_accept(l);
    benchmark::DoNotOptimize(peer_owner_allowed(check, c.peer, l.local, &uid));
    close_connection(c);
  }
  if (check.diag_fd >= 0) close(check.diag_fd);
  close(l.listen_fd);
}
BENCHMARK(BM_ConnectAcceptClose)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
