// What the core needs from a window system: a status line, the cursor, message boxes, modal
// questions and "let pending events run". The GUI implements it with Qt, tests by recording
// (answering questions from a script), the command-line tool on stderr.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qubix::link {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kLime{0, 255, 0};

// The one-line status text box of the main window. Texts and colours are set independently:
// several operations change the text and leave the colour, or the other way round.
class StatusLine {
 public:
  virtual ~StatusLine() = default;
  virtual void setStatusText(std::string_view text) = 0;
  virtual void setStatusColour(Rgb colour) = 0;
  // A longer reason for the last link failure, shown as the status line's tool tip.
  virtual void setStatusDetail(std::string_view /*detail*/) {}
};

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

class Frontend : public StatusLine {
 public:
  virtual void setBusyCursor(bool busy) = 0;
  virtual Answer messageBox(std::string_view text, std::string_view caption, Buttons buttons) = 0;
  virtual void processEvents() = 0;

  // Modal questions. An empty optional means the operator cancelled.
  // filter is in the form "Description (*.ext)".
  virtual std::optional<std::string> askOpenFile(std::string_view title, std::string_view filter,
                                                 std::string_view startDir) = 0;
  virtual std::optional<std::string> askSaveFile(std::string_view title, std::string_view filter,
                                                 std::string_view startDir) = 0;
  // A user preset location 0 … 7 from the location dialogs.
  virtual std::optional<int> askLocation(std::string_view title) = 0;
  // A line of text (the manual add dialog's identifier).
  virtual std::optional<std::string> askText(std::string_view title, std::string_view label) = 0;

  // A dialog that stays open until its input is accepted: every "Ok" hands the typed text to
  // tryAccept, which returns "" to accept (the dialog closes, true) or the text for the dialog's
  // message line (the dialog stays open). False when the operator cancelled. The default asks
  // again through askText, with the message as the label.
  virtual bool askUntilAccepted(std::string_view title, std::string_view label,
                                std::string_view initialText,
                                const std::function<std::string(std::string_view)>& tryAccept) {
    (void)initialText;
    std::string message;
    for (;;) {
      auto typed = askText(title, message.empty() ? label : std::string_view(message));
      if (!typed) return false;
      message = tryAccept(*typed);
      if (message.empty()) return true;
    }
  }
  // A list the operator removes items from by clicking them: the items left after "Ok", or
  // nothing after "Cancel". The default cancels.
  // The list is taken by value so that a frontend can keep it or hand it on without a copy.
  virtual std::optional<std::vector<std::string>> askItemsToKeep(
      std::string_view title, std::string_view label,
      std::vector<std::string> items) {  // NOLINT(performance-unnecessary-value-param)
    (void)title;
    (void)label;
    (void)items;
    return std::nullopt;
  }
};

// A frontend with no one to ask (the command-line tool, the service): every question is
// cancelled, the cursor and pending events are nothing to it.
class UnattendedFrontend : public Frontend {
 public:
  void setBusyCursor(bool) override {}
  void processEvents() override {}
  std::optional<std::string> askOpenFile(std::string_view, std::string_view,
                                         std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> askSaveFile(std::string_view, std::string_view,
                                         std::string_view) override {
    return std::nullopt;
  }
  std::optional<int> askLocation(std::string_view) override { return std::nullopt; }
  std::optional<std::string> askText(std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

}  // namespace qubix::link
