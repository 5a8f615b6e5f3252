// An in-process stand-in for the client: a hidden top-level window of class
// "Kazaa" with tree views, all owned by the test's main thread. Workers send
// to it across threads, so the main thread pumps messages while it waits,
// and the recorder sees every message a worker sends, in order.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// Everything workers sent to the fake client and its tree views, in order.
extern std::vector<std::string> g_sent;

class FakeClient {
  public:
    FakeClient();
    ~FakeClient();
    FakeClient(const FakeClient&) = delete;
    FakeClient& operator=(const FakeClient&) = delete;

    // A tree view named `name` in the client window, or in `container` when
    // given; its top-level items are named by `items`, and each item listed
    // in `withChildren` gets two child items (expanded).
    HWND AddTree(const std::string& name, const std::vector<std::string>& items,
                 const std::vector<std::string>& withChildren = {}, HWND container = nullptr);
    // A plain child window to nest trees in.
    HWND AddContainer(HWND parent = nullptr);
    // A child window of a class whose name merely starts like a tree view's.
    HWND AddLookalike();

    HWND window() const { return window_; }
    // Called on the main thread for every message a worker sends a tree,
    // after it has been recorded and handled.
    std::function<void(HWND tree, UINT message)> onTreeMessage;

    std::string TreeName(HWND tree) const;
    std::string ItemName(LPARAM item) const;

  private:
    HWND window_ = nullptr;
    std::map<HWND, std::string> treeNames_;
    std::map<LPARAM, std::string> itemNames_;
};

// The hidden tray window, created as start-up creates it (class "TW").
HWND CreateTrayWindow();

// Pumps the main thread's messages until `done` holds or `timeoutMs` passes.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// Pumps for `ms` milliseconds (to check that something does NOT happen).
void PumpFor(DWORD ms);

bool HasEnded(HANDLE thread);
// Waits until the worker is suspended in a pause or has ended.
bool WaitPausedOrEnded(HANDLE worker, DWORD timeoutMs = 10000);

// Whether `log` is an interleaving of `a` and `b`, each kept in order.
bool IsInterleaving(const std::vector<std::string>& a, const std::vector<std::string>& b,
                    const std::vector<std::string>& log);
