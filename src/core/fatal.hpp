// Misuse reporting. By default: one line on standard error, then abort. A thread that chose
// the keep mode gets the failure back at the export it called instead (see dalo.h).
#pragma once

#include <string>
#include <string_view>

namespace dalo {

// Writes "dalo: " + msg + "\n" to standard error, flushes it and aborts; in the keep mode
// throws Failure with that line instead.
[[noreturn]] void fatal(std::string_view msg);

// For messages that already carry the "dalo: " prefix inside their own text.
[[noreturn]] void fatal_raw(std::string_view line);

// A failure on its way to the export boundary: the whole line, without the end of line.
// Not a std::exception, so no catch of the standard family swallows it on the way.
struct Failure {
    std::string line;
};

// Per-thread error state: the mode, the last failure and the handler run on each failure.
inline constexpr int kErrorsAbort = 0;
inline constexpr int kErrorsKeep = 1;
struct ThreadErrors {
    int mode = kErrorsAbort;
    bool failed = false;
    std::string last;
    void (*handler)(const char* line, void* context) = nullptr;
    void* context = nullptr;
};
ThreadErrors& thread_errors();

int error_mode();
int set_error_mode(int mode);

// Runs a region body under the mode of the thread that started the region.
class ModeScope {
  public:
    explicit ModeScope(int mode) : saved_(set_error_mode(mode)) {}
    ~ModeScope() { set_error_mode(saved_); }
    ModeScope(const ModeScope&) = delete;
    ModeScope& operator=(const ModeScope&) = delete;

  private:
    int saved_;
};

// Keeps the failure as the thread's last error and runs the thread's handler, which may
// throw out of the export.
void keep_failure(const Failure& f);

// The result of a failed export: NULL, 0 or 0.0, whatever the export returns.
struct Neutral {
    template <class T>
    operator T() const {  // NOLINT: converts to every result type
        return T{};
    }
};

inline Neutral recover(const Failure& f) {
    keep_failure(f);
    return {};
}

}  // namespace dalo

// Every export's body is a function-try-block ending in one of these: in the keep mode a
// failure inside the call comes back as the neutral result; other exceptions pass.
#define DALO_RECOVER                        \
    catch (const dalo::Failure& failure_) { \
        return dalo::recover(failure_);     \
    }
#define DALO_RECOVER_VOID                   \
    catch (const dalo::Failure& failure_) { \
        dalo::keep_failure(failure_);       \
    }
