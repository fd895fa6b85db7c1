#pragma once

#include <ucontext.h>

#include <csignal>
#include <string>

// The process's last words. A fault signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE)
// runs our handler on an alternate stack: it writes a text dump
// "YYYY-MM-DD_HHMMSS.dmp" (local time; "-2", "-3"... added before ".dmp" only
// when that name is taken, so that no dump replaces another) into the folder
// "log" of the data folder — the description of the fault, the registers, a
// backtrace and a copy of /proc/self/maps — puts the description into the
// day's log file as a FATAL line, and raises the signal again so that the
// process dies of it.
//
// The handler may run while any lock of the process is held (the log's, the
// allocator's), so from the signal on it uses only async-signal-safe calls:
// it formats into fixed buffers and writes with write(2); it never goes
// through the Log object. Everything it needs is prepared by
// installCrashHandlers.
namespace os {

/// What the crash path knows of a fault: the signal with its details and the
/// interrupted thread's registers. A default object stands for a dump on
/// request (the terminate handler, an exception escaping the event loop).
struct CrashContext {
    int signal = 0;
    const siginfo_t* info = nullptr;
    const ucontext_t* context = nullptr;
};

/// The fault's name in the exception-code terms of our dumps and logs, from
/// the signal and its si_code; "UNKNOWN EXCEPTION" for anything else.
/// `nearStackPointer`: the faulting address lies next to the stack pointer,
/// which makes a SIGSEGV a stack overflow.
const char* exceptionName(int signal, int code, bool nearStackPointer);

/// Prepares the crash path (dump folder, the local time offset, the log's
/// texts, the unwinder) and installs the fault handlers. Call once at
/// start-up on the main thread, after the log and the translations exist;
/// later calls only refresh what is prepared. Only
/// the calling thread gets the alternate stack, so a stack overflow on
/// another thread dies without a dump.
void installCrashHandlers();

/// The signal handler itself.
void exceptionFilter(int signal, siginfo_t* info, void* context);

/// Outside a signal handler: logs "make memory dump" and the description,
/// writes a dump and logs where it went. Null or a default context: a dump on
/// request, described by the executable's module.
void writeMiniDump(const CrashContext* crash);

/// writeMiniDump without a fault; called by the terminate handler.
void dumpMemory();

/// Logs the description of the fault (FATAL) or, without one, the
/// executable's module line (IMPOR), through the safe log calls.
void describeException(const CrashContext* crash);

/// The description text alone, as the dump and the log show it; empty when
/// the faulting code lies in no module. Used by describeException and tests.
std::string describeFault(const CrashContext& crash);

}  // namespace os
