#pragma once

// The state of the current left-button gesture, from its mouse-down to the next one. The event monitor
// creates one at each left mouse-down and sets the flags as the gesture's events arrive; a flag only ever
// goes from false to true. Main thread only.
class TDKeyEvent {
  public:
    bool isBeamCursor() const { return isBeamCursor_; }
    void setIsBeamCursor(bool value) { isBeamCursor_ = value; }
    // Recorded only; nothing decides on it.
    bool isShiftDown() const { return isShiftDown_; }
    void setIsShiftDown(bool value) { isShiftDown_ = value; }
    bool isDragged() const { return isDragged_; }
    void setIsDragged(bool value) { isDragged_ = value; }
    bool isMultipleClick() const { return isMultipleClick_; }
    void setIsMultipleClick(bool value) { isMultipleClick_ = value; }
    bool isFinished() const { return isFinished_; }
    void setIsFinished(bool value) { isFinished_ = value; }

  private:
    bool isBeamCursor_ = false;
    bool isShiftDown_ = false;
    bool isDragged_ = false;
    bool isMultipleClick_ = false;
    bool isFinished_ = false;
};
