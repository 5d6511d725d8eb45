// What the computing layers need of whoever drives them (the window, tarn-cli, a test).
//
// The transforms, the minimum-phase conversion and the band designs sit below the window
// and must not know it; they reach it only through CurrentHost(). The window operations of
// the project layer implement this interface, so one object serves both.
// Every call of the window's host comes on the thread of the window's message loop; a thread
// that computes beside it answers through a host of its own (ThreadHost).
#pragma once

#include <string>

namespace tarn {

class Host {
  public:
    virtual ~Host() = default;

    // Handles every message waiting right now (repaints, timer ticks, input) and returns;
    // never waits for new ones. The transforms call it so the window stays live.
    virtual void ProcessMessages() = 0;
    // Modal box with the text and one OK button; returns once dismissed.
    virtual void ShowMessage(const std::string& text) = 0;
    // True while "Minimum phase" is ticked, read at the moment of the call.
    virtual bool MinimumPhaseOption() = 0;
    // A coefficient file has just been written completely (full path). For reporting only.
    virtual void FileWritten(const std::string& /*path*/) {}
};

// The host the computing code talks to. Without one set, a silent stand-in answers
// (no messages, minimum phase off).
Host& CurrentHost();
// Sets the host; returns the previous one (nullptr for the stand-in).
Host* SetHost(Host* host);

// While it lives, CurrentHost() answers `host` on the thread that made it, and only there:
// a thread computing bands beside the window's must neither pump the window's messages nor
// show a box from the wrong thread. Nests; undone in reverse order.
class ThreadHost {
  public:
    explicit ThreadHost(Host& host);
    ~ThreadHost();
    ThreadHost(const ThreadHost&) = delete;
    ThreadHost& operator=(const ThreadHost&) = delete;

  private:
    Host* previous_;
};

} // namespace tarn
