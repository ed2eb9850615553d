// delay_line IFACE_A IFACE_B MILLISECONDS: passes every Ethernet frame that arrives on either
// interface out of the other one MILLISECONDS later, as a link that long would. For kernels
// without netem: with the two host ends of two veth pairs it puts a delay on each way between
// two network namespaces. Frames must be whole (offloads off, as ethtool -K sets them); one
// that finds its queue full is dropped, as a router drops it. Runs until killed.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

enum { frame_room = 2048, queued_most = 16384 };

struct frame {
  uint64_t due; // microseconds
  unsigned length;
  unsigned char bytes[frame_room];
};

// The frames on their way out of one interface, oldest first.
struct queue {
  struct frame *frames;
  unsigned first, count;
};

static uint64_t now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint64_t)t.tv_sec * 1000000u + (uint64_t)t.tv_nsec / 1000u;
}

static int open_interface(const char *name) {
  const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  struct sockaddr_ll at = {.sll_family = AF_PACKET, .sll_protocol = htons(ETH_P_ALL)};
  // Room for bursts: a frame that finds the socket's buffer full is lost, and TCP then
  // waits as long as a second for it.
  const int room = 64 << 20;
  at.sll_ifindex = (int)if_nametoindex(name);
  if (fd >= 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
  }
  if (fd < 0 || at.sll_ifindex == 0 || bind(fd, (struct sockaddr *)&at, sizeof at) != 0) {
    fprintf(stderr, "delay_line: %s: %s\n", name, strerror(errno));
    exit(1);
  }
  return fd;
}

// Takes in every frame waiting on `from`, to leave through the other interface later.
static void take_in(int from, struct queue *out, uint64_t delay) {
  for (;;) {
    struct frame *f = &out->frames[(out->first + out->count) % queued_most];
    struct sockaddr_ll source;
    socklen_t size = sizeof source;
    const ssize_t got = recvfrom(from, f->bytes, frame_room, MSG_DONTWAIT | MSG_TRUNC,
                                 (struct sockaddr *)&source, &size);
    if (got < 0)
      return;
    // Frames that this interface sends are seen here too; and no frame fits that is longer
    // than the room for it.
    if (source.sll_pkttype == PACKET_OUTGOING || got > frame_room || out->count == queued_most)
      continue;
    f->length = (unsigned)got;
    f->due = now_us() + delay;
    ++out->count;
  }
}

// Sends what is due; the microseconds until the next frame is, or -1 for none.
static int64_t send_due(int to, struct queue *out) {
  const uint64_t now = now_us();
  while (out->count > 0) {
    struct frame *f = &out->frames[out->first];
    if (f->due > now)
      return (int64_t)(f->due - now);
    send(to, f->bytes, f->length, 0);
    out->first = (out->first + 1) % queued_most;
    --out->count;
  }
  return -1;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: delay_line IFACE_A IFACE_B MILLISECONDS\n");
    return 2;
  }
  const int fds[2] = {open_interface(argv[1]), open_interface(argv[2])};
  const uint64_t delay = (uint64_t)(atof(argv[3]) * 1000);
  struct queue queues[2]; // queues[i]: frames from fds[i], to go out of the other
  for (int i = 0; i < 2; ++i) {
    queues[i].frames = malloc(sizeof(struct frame) * queued_most);
    queues[i].first = queues[i].count = 0;
    if (queues[i].frames == NULL)
      return 1;
  }
  for (;;) {
    int64_t wait = -1;
    for (int i = 0; i < 2; ++i) {
      const int64_t next = send_due(fds[1 - i], &queues[i]);
      if (next >= 0 && (wait < 0 || next < wait))
        wait = next;
    }
    struct pollfd ready[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    struct timespec timeout = {(time_t)(wait / 1000000), (long)(wait % 1000000) * 1000};
    if (ppoll(ready, 2, wait < 0 ? NULL : &timeout, NULL) < 0 && errno != EINTR)
      return 1;
    for (int i = 0; i < 2; ++i)
      if (ready[i].revents & POLLIN)
        take_in(fds[i], &queues[i], delay);
  }
}
