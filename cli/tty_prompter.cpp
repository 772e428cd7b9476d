#include "cli/tty_prompter.h"

#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>

#include "cycle/cancellation.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace tavo::cli {

#ifdef _WIN32

std::shared_ptr<remote::Prompter> makeTerminalPrompter() {
    return remote::makeNoPrompter();
}

#else

namespace {

// Longer answers are not passwords anyone types.
constexpr std::size_t kMaxAnswer = 4096;

class TerminalPrompter final : public remote::Prompter {
  public:
    TerminalPrompter(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~TerminalPrompter() override {
        if (owned_) close(fd_);
    }

    remote::TrustAnswer askTrust(const remote::TrustQuestion& q) override {
        std::lock_guard lock(mutex_);
        const std::string where = q.where();
        write(q.why + "\n" + q.protocol + " host " + where + " offers the " + q.keyType +
              " key\n  " + q.fingerprint + "\n");
        while (true) {
            auto line =
                readLine("Connect once (o), connect and remember (r), or cancel (c)? ", true);
            if (!line) return remote::TrustAnswer::Cancel;
            if (*line == "o" || *line == "once") return remote::TrustAnswer::ConnectOnce;
            if (*line == "r" || *line == "remember") return remote::TrustAnswer::ConnectAndRemember;
            if (line->empty() || *line == "c" || *line == "cancel")
                return remote::TrustAnswer::Cancel;
        }
    }

    std::optional<remote::SecretAnswer> askSecret(const remote::SecretQuestion& q) override {
        std::lock_guard lock(mutex_);
        if (!q.lastFailure.empty()) write(q.lastFailure + "\n");
        remote::SecretAnswer answer;
        answer.user = q.user;
        if (q.askUser) {
            auto user = readLine(q.protocol + " user for " + q.host +
                                     (q.user.empty() ? "" : " [" + q.user + "]") + ": ",
                                 true);
            if (!user) return std::nullopt;
            if (!user->empty()) answer.user = *user;
        }
        auto secret = readLine(q.prompt + ": ", false);
        write("\n");
        if (!secret) return std::nullopt;
        answer.secret = std::move(*secret);
        return answer;
    }

  private:
    void write(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // One line after `prompt`, with echo as asked; nothing on end of input
    // or when the pass is stopped (Ctrl+C reaches the report, not this
    // read). The prompt shows only once echo is off, so nothing typed after
    // it is ever echoed.
    std::optional<std::string> readLine(const std::string& prompt, bool echo) {
        termios saved{};
        const bool isTerminal = tcgetattr(fd_, &saved) == 0;
        if (isTerminal && !echo) {
            termios quiet = saved;
            quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
            tcsetattr(fd_, TCSAFLUSH, &quiet);
        }
        write(prompt);
        std::optional<std::string> line = std::string();
        const std::stop_token stop = cycle::currentStopToken();
        while (true) {
            if (stop.stop_requested()) {
                line.reset();
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            const int rc = poll(&p, 1, 100);
            if (rc == 0) continue;
            char c = 0;
            const ssize_t n = rc > 0 ? ::read(fd_, &c, 1) : -1;
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                line.reset();
                break;
            }
            if (c == '\n' || c == '\r') break;
            if (line->size() >= kMaxAnswer) continue;
            line->push_back(c);
        }
        if (isTerminal && !echo) tcsetattr(fd_, TCSAFLUSH, &saved);
        return line;
    }

    int fd_;
    bool owned_;
    std::mutex mutex_;
};

}  // namespace

std::shared_ptr<remote::Prompter> makeTerminalPrompter() {
    const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return remote::makeNoPrompter();
    return std::make_shared<TerminalPrompter>(fd, true);
}

std::shared_ptr<remote::Prompter> makeTerminalPrompter(int fd) {
    return std::make_shared<TerminalPrompter>(fd, false);
}

#endif

}  // namespace tavo::cli
