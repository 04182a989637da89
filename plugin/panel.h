// The calibration panel: a small window of Brastow's own for the length of a run. It
// tells the astronomer what is happening and what to do now, shows the progress over
// the five passes and a picture of the star's track, offers a Stop button, and at the
// end a check of the solution. It only informs: it never calls the host, never takes
// activation or the keyboard focus, and a run whose panel cannot be made goes on
// without it (every member is then a no-op).
#pragma once

#include <windows.h>
#include "plugin/run.h"
#include "server/handles.h"

class Panel {
public:
    // Makes and shows the panel on the calling thread, on the screen of the thread's
    // active window (the host's), without activating it.
    explicit Panel(const Settings& settings);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // The stages of a run, in order. `pass` is 0 to 4.
    void exposing(int pass);
    void waitingForClick(int pass);
    void measured(int pass, float x, float y);
    void moving(int pass);
    void solving();
    // The solution is known and its message is about to open: the check line.
    void solved();
    // The angle and speeds are written; the backlash message follows.
    void written();
    // The run ends with a message of its own (the camera did not start): no Stop.
    void ending();

    // Whether the user pressed Stop; the run's waits honour it.
    bool stopRequested() const { return stop_; }

private:
    static LRESULT CALLBACK windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK stopProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
    void create();
    void paint(HDC dc);
    void paintPicture(HDC dc, const RECT& frame);
    void show(const wchar_t* step, const wchar_t* hint);
    void showCheck();
    void drag(UINT msg, LPARAM lp);
    int px(int units) const { return MulDiv(units, dpi_, 96); }

    Settings settings_;
    SamplePoints points_;
    int measuredCount_ = 0;
    int pass_ = -1;  // the pass in progress, for the progress marks
    bool stop_ = false;

    HWND window_ = nullptr;
    HWND step_ = nullptr, hint_ = nullptr, check_ = nullptr, stopButton_ = nullptr;
    bool classRegistered_ = false;
    int dpi_ = 96;
    win::Font font_, bold_;
    RECT marks_ = {}, picture_ = {};
    // Dragging by the panel's body: where the pointer took it, in window coordinates.
    bool dragging_ = false;
    POINT grip_ = {};
};
