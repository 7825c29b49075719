#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

namespace quillo::test {

// A child process of the test running body, killed and reaped with its handle, and
// never outliving a stuck test by more than a minute.
class Child {
  public:
    template <class Body>
    explicit Child(Body body) : pid_(::fork()) {
        if (pid_ == 0) {
            ::alarm(60);
            body();
            ::_exit(0);
        }
    }
    ~Child() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // A child that prepares, then holds still; returned once it is ready.
    template <class Prepare>
    static std::unique_ptr<Child> holdingStill(Prepare prepare) {
        int ready[2];
        if (::pipe(ready) != 0) return nullptr;
        auto child = std::make_unique<Child>([&] {
            prepare();
            [[maybe_unused]] auto n = ::write(ready[1], "y", 1);
            ::pause();
        });
        ::close(ready[1]);  // so that a child that died unready ends the wait
        char c = 0;
        [[maybe_unused]] auto n = ::read(ready[0], &c, 1);
        ::close(ready[0]);
        return child;
    }

    // A child that keeps one CPU busy, under the name given.
    static std::unique_ptr<Child> spinning(const char* name = nullptr) {
        return std::make_unique<Child>([name] {
            if (name) ::prctl(PR_SET_NAME, name);
            for (;;) {
                asm volatile("" ::: "memory");  // a loop with no effect may be optimised away
            }
        });
    }

  private:
    pid_t pid_;
};

}  // namespace quillo::test
