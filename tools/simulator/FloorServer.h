#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <pthread.h>
#include <thread>
#include <unordered_map>

namespace tarvina::sim {

// The least a server can do for the load benchmark's stations: one epoll
// loop that greets a connection as taquilla does, answers an Identify and a
// StatusReport at once with taquilla's own lines, and ignores the rest. What
// the stations measure against it is the floor that the clients, the
// loopback and the scheduler set; taquilla's figures over it are taquilla's.
//
// It runs on a thread of the benchmark rather than in a process of its own:
// the latency crosses the kernel's TCP path either way, the clients' threads
// are scheduled next to it just as next to taquilla, and it runs only while
// taquilla is not running. A second program would add nothing but a port to
// hand back (and forking a process that has Qt's threads running is unsafe).
class FloorServer {
public:
    FloorServer() = default;
    ~FloorServer();
    FloorServer(const FloorServer&) = delete;
    FloorServer& operator=(const FloorServer&) = delete;

    // Listens on every address at a port the system chooses and starts the
    // loop; the port, or 0 when it cannot listen.
    quint16 start();
    // Ends the loop and closes every connection; at once, whatever the
    // stations do.
    void stop();
    // CPU time of the loop so far, in microseconds (0 when it is not running).
    qint64 cpuUs() const;

private:
    void run();
    void accept();
    void read(int fd);
    bool answer(int fd, QByteArrayView line);
    bool send(int fd, const QByteArray& bytes);
    void drop(int fd);

    int listenFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
    pthread_t loop_{};
    // Loop thread only: what each connection sent after its last line feed.
    std::unordered_map<int, QByteArray> pending_;
    QByteArray greeting_, identified_, reportAnswer_;
};

} // namespace tarvina::sim
