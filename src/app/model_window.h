#pragma once
// The in-memory window: every control's text, checked, enabled, caption and
// hint, the log lines and the two status panels. Used by the tests and the
// fuzz targets.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/window.h"

namespace tarnwick {

class ModelWindow : public Window {
 public:
  ModelWindow();

  std::string text(ControlId id) const override { return at(id).text; }
  void setText(ControlId id, std::string value) override { at(id).text = std::move(value); }
  bool checked(ControlId id) const override { return at(id).checked; }
  void setChecked(ControlId id, bool value) override { at(id).checked = value; }
  bool enabled(ControlId id) const override { return at(id).enabled; }
  void setEnabled(ControlId id, bool value) override { at(id).enabled = value; }
  std::string caption(ControlId id) const override { return at(id).caption; }
  void setCaption(ControlId id, std::string value) override { at(id).caption = std::move(value); }
  std::string hint(ControlId id) const override { return at(id).hint; }
  void setHint(ControlId id, std::string value) override { at(id).hint = std::move(value); }
  void showPage(int index) override { page_ = index; }
  void appendLogLine(const LogLine& line) override;
  void clearLog() override { lines_.clear(); }
  void setStatusPanel(int panel, const std::string& shownText) override;
  void setStatusHint(const std::string& hint) override { statusHint_ = hint; }
  void processMessages() override;
  void repaint() override { ++repaints_; }
  bool confirm(const std::string& question) override;
  void setPlaylistTree(const std::vector<TreeNode>& roots) override { tree_ = roots; }
  void setPlaylistMemo(const std::vector<std::string>& lines) override { memo_ = lines; }
  void setMemoVisible(bool visible) override { memoVisible_ = visible; }
  void setTitles(const std::vector<std::string>& items, int chosen) override {
    titles_ = items;
    chosenTitle_ = chosen;
  }

  int page() const { return page_; }
  const std::vector<LogLine>& lines() const { return lines_; }
  // The log as plain text lines.
  std::vector<std::string> logText() const;
  const std::string& statusPanel(int panel) const { return panels_.at(static_cast<std::size_t>(panel)); }
  const std::string& statusHint() const { return statusHint_; }
  int repaints() const { return repaints_; }
  const std::vector<TreeNode>& playlistTree() const { return tree_; }
  const std::vector<std::string>& playlistMemo() const { return memo_; }
  bool memoVisible() const { return memoVisible_; }
  const std::vector<std::string>& questions() const { return questions_; }
  const std::vector<std::string>& titles() const { return titles_; }
  int chosenTitle() const { return chosenTitle_; }

  // Hooks for front ends and tests: what happens when pending input is let
  // through (a Cancel click, say), how a Yes/No question is answered, and
  // where each new log line goes.
  std::function<void()> onProcessMessages;
  std::function<bool(const std::string&)> onConfirm;
  std::function<void(const LogLine&)> onLogLine;
  std::function<void(int, const std::string&)> onStatusPanel;

 private:
  struct Control {
    std::string text;
    std::string caption;
    std::string hint;
    bool checked = false;
    bool enabled = true;
  };
  Control& at(ControlId id) { return controls_[static_cast<std::size_t>(id)]; }
  const Control& at(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

  std::array<Control, kControlCount> controls_;
  std::vector<LogLine> lines_;
  std::array<std::string, 2> panels_;
  std::string statusHint_;
  std::vector<std::string> questions_;
  // The tree as the window is created; Read XPL replaces it.
  std::vector<TreeNode> tree_ = initialPlaylistTree();
  std::vector<std::string> memo_;
  bool memoVisible_ = true;
  std::vector<std::string> titles_;
  int chosenTitle_ = -1;
  int page_ = 0;
  int repaints_ = 0;
};

}  // namespace tarnwick
