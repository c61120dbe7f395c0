// A frontend for tests: records what the operator would see (status texts and colours, cursor
// changes, message boxes, questions asked) and answers questions from scripted queues. An
// unscripted question is answered as if the operator cancelled, and is recorded all the same.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Frontend.h"

namespace qubix::test {

class RecordingFrontend : public link::Frontend {
 public:
  struct Box {
    std::string text;
    std::string caption;
    link::Buttons buttons;
  };
  struct Question {
    std::string kind;  // "open", "save", "location", "text", "until", "keep"
    std::string title;
  };

  // What was shown, in order.
  std::vector<std::string> statusTexts;
  std::vector<link::Rgb> statusColours;
  std::string statusText;                // the current text
  link::Rgb statusColour = link::kLime;  // the current colour (lime at start)
  std::string statusDetail;
  std::vector<bool> cursorChanges;  // true = busy
  bool busy = false;
  std::vector<Box> boxes;
  std::vector<Question> questions;
  int processEventsCalls = 0;

  // Scripted answers, consumed front first.
  std::deque<link::Answer> boxAnswers;
  std::deque<std::optional<std::string>> openFileAnswers;
  std::deque<std::optional<std::string>> saveFileAnswers;
  std::deque<std::optional<int>> locationAnswers;
  std::deque<std::optional<std::string>> textAnswers;
  std::deque<std::optional<std::vector<std::string>>> keepAnswers;
  // Messages tryAccept returned in askUntilAccepted, in order.
  std::vector<std::string> untilMessages;

  // Runs on every processEvents() (a test's way of acting "while an operation runs").
  std::function<void()> onProcessEvents;

  void setStatusText(std::string_view text) override {
    statusText = std::string(text);
    statusTexts.push_back(statusText);
  }
  void setStatusColour(link::Rgb colour) override {
    statusColour = colour;
    statusColours.push_back(colour);
  }
  void setStatusDetail(std::string_view detail) override { statusDetail = std::string(detail); }
  void setBusyCursor(bool b) override {
    busy = b;
    cursorChanges.push_back(b);
  }
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override {
    boxes.push_back(Box{std::string(text), std::string(caption), buttons});
    if (!boxAnswers.empty()) {
      auto a = boxAnswers.front();
      boxAnswers.pop_front();
      return a;
    }
    return buttons == link::Buttons::YesNo || buttons == link::Buttons::YesNoCancel
               ? link::Answer::Yes
               : link::Answer::Ok;
  }
  void processEvents() override {
    ++processEventsCalls;
    if (onProcessEvents) onProcessEvents();
  }
  std::optional<std::string> askOpenFile(std::string_view title, std::string_view,
                                         std::string_view) override {
    return next(openFileAnswers, "open", title);
  }
  std::optional<std::string> askSaveFile(std::string_view title, std::string_view,
                                         std::string_view) override {
    return next(saveFileAnswers, "save", title);
  }
  std::optional<int> askLocation(std::string_view title) override {
    return next(locationAnswers, "location", title);
  }
  std::optional<std::string> askText(std::string_view title, std::string_view) override {
    return next(textAnswers, "text", title);
  }
  bool askUntilAccepted(std::string_view title, std::string_view, std::string_view,
                        const std::function<std::string(std::string_view)>& tryAccept) override {
    questions.push_back(Question{"until", std::string(title)});
    while (!textAnswers.empty()) {
      auto typed = textAnswers.front();
      textAnswers.pop_front();
      if (!typed) return false;
      auto message = tryAccept(*typed);
      untilMessages.push_back(message);
      if (message.empty()) return true;
    }
    return false;
  }
  std::optional<std::vector<std::string>> askItemsToKeep(std::string_view title, std::string_view,
                                                         std::vector<std::string>) override {
    return next(keepAnswers, "keep", title);
  }

  // Forgets what was shown so far (the current status text and colour stay): a test's fresh
  // start, and a benchmark's way of not piling up records across iterations.
  void forgetHistory() {
    statusTexts.clear();
    statusColours.clear();
    cursorChanges.clear();
    boxes.clear();
  }

  // The message box texts, in order.
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> out;
    for (const auto& b : boxes) out.push_back(b.text);
    return out;
  }

 private:
  template <typename T>
  T next(std::deque<T>& queue, const char* kind, std::string_view title) {
    questions.push_back(Question{kind, std::string(title)});
    T a{};
    if (!queue.empty()) {
      a.swap(queue.front());
      queue.pop_front();
    }
    return a;
  }
};

}  // namespace qubix::test
