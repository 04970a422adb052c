#include "server/metadata/MetadataHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int result;
    do {
        result = ::poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

void Address(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

// The connection, with the rewritten request line served first.
class TRewritingStream : public httplib::Stream {
public:
    TRewritingStream(int fd, std::string head) : fd_(fd), head_(std::move(head)) {}

    bool is_readable() const override {
        return offset_ < head_.size() || WaitFor(fd_, POLLIN, MetadataHttpServer::ReadTimeoutMs);
    }
    bool is_writable() const override {
        return WaitFor(fd_, POLLOUT, MetadataHttpServer::WriteTimeoutMs);
    }
    ssize_t read(char* ptr, size_t size) override {
        if (offset_ < head_.size()) {
            const size_t count = std::min(size, head_.size() - offset_);
            head_.copy(ptr, count, offset_);
            offset_ += count;
            return static_cast<ssize_t>(count);
        }
        if (!WaitFor(fd_, POLLIN, MetadataHttpServer::ReadTimeoutMs))
            return -1;
        ssize_t count;
        do {
            count = ::recv(fd_, ptr, size, 0);
        } while (count < 0 && errno == EINTR);
        return count;
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t count;
        do {
            count = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        } while (count < 0 && errno == EINTR);
        return count;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            Address(address, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            Address(address, ip, port);
    }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    std::string head_;
    size_t offset_ = 0;
};

// Reads up to and including the first line feed; false when the line is too long or the
// client went away first.
bool ReadRequestLine(int fd, std::string& line) {
    char c = 0;
    while (line.size() < MetadataHttpServer::MaxRequestLine) {
        if (!WaitFor(fd, POLLIN, MetadataHttpServer::ReadTimeoutMs))
            return false;
        ssize_t count;
        do {
            count = ::recv(fd, &c, 1, 0);
        } while (count < 0 && errno == EINTR);
        if (count <= 0)
            return false;
        line += c;
        if (c == '\n')
            return true;
    }
    return false;
}

} // namespace

std::string MetadataHttpServer::EscapeExtraQuestionMarks(const std::string& requestLine) {
    const size_t targetStart = requestLine.find(' ');
    if (targetStart == std::string::npos)
        return requestLine;
    const size_t targetEnd = requestLine.find(' ', targetStart + 1);
    const size_t query = requestLine.find('?', targetStart + 1);
    if (query == std::string::npos || (targetEnd != std::string::npos && query > targetEnd))
        return requestLine;
    std::string result = requestLine.substr(0, query + 1);
    const size_t end = targetEnd == std::string::npos ? requestLine.size() : targetEnd;
    for (size_t i = query + 1; i < end; ++i)
        result += requestLine[i] == '?' ? std::string("%3F") : std::string(1, requestLine[i]);
    result += requestLine.substr(end);
    return result;
}

bool MetadataHttpServer::process_and_close_socket(socket_t sock) {
    bool served = false;
    std::string line;
    if (ReadRequestLine(sock, line)) {
        TRewritingStream stream(sock, EscapeExtraQuestionMarks(line));
        bool closed = false;
        served = process_request(stream, true, closed, nullptr);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}
