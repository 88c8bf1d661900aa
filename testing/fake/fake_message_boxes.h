// Message boxes in memory: the tests read back which boxes were shown, and may act while one is
// up.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/message_boxes.h"

namespace autobackup {

class FakeMessageBoxes : public MessageBoxes {
 public:
  static constexpr int kAnswerOk = 1;  // IDOK

  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
  };

  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    shown_.push_back({text, caption, flags});
    if (while_shown) {
      while_shown();
    }
    return kAnswerOk;
  }

  // Runs while each box is up, before the user's answer.
  std::function<void()> while_shown;

  const std::vector<Box>& Shown() const { return shown_; }

 private:
  std::vector<Box> shown_;
};

}  // namespace autobackup
