// The state of the main window's controls as a model: the edit boxes' texts, the
// check box, the sort-order radio group, button captions and enabled states, the
// selected tab and the hint over the empty tree. Workers read and write it from any
// thread; the window mirrors it and writes the user's edits back.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <string_view>

#include "util/observable.h"

namespace pansift {

/// The edit boxes of the main window.
enum class FormText : int {
  kCookies,         // 编辑框_百度cookies
  kPrereadThreads,  // 编辑框_预读取线程数
  kCheckThreads,    // 编辑框_检查线程数
  kFilesPerBatch,   // 编辑框_每次检查文件数量
  kDepth,           // 编辑框_检查深度
  kAutoDelay,       // 编辑框_自动延时秒数
  kSubmitInterval,  // 编辑框_检测违规文件提交间隔
  kDeleteInterval,  // 编辑框_删除违规文件操作间隔
  kCount
};

/// The buttons of the main window.
enum class FormButton : int {
  kRefreshRoot,   // 按钮1 "刷新根目录"
  kLogin,         // 按钮2 "帐号登陆"
  kAddAccount,    // 按钮3
  kSaveCookies,   // 按钮4 "保存cookies"
  kBlockedFiles,  // 按钮7 "已和谐文件"
  kStopCheck,     // 按钮_停止检查
  kPauseCheck,    // 按钮_暂停检查 ("暂停" / "继续")
  kStartCheck,    // 按钮_开始检查: disabled exactly while a task runs
  kCount
};

/// The radio group that chooses the sort order of folder listings.
enum class SortOrder : int {
  kNameAscending,   // 单选框_按名称正排 (selected at start)
  kNameDescending,  // 单选框_按名称倒排
  kTimeAscending,   // 单选框_按时间正排
  kTimeDescending,  // 单选框_按时间倒排
};

/// The tabs of 高级选择夹1.
enum FormTab : int {
  kTabAccounts = 0,   // "选择百度帐号"
  kTabAddCookie = 1,  // "手动添加cookie"
  kTabClean = 2,      // "清理和谐文件"
};

struct FormChanged {
  enum class Kind {
    kText,
    kDeleteFiles,
    kHalvingSearch,
    kSortOrder,
    kCaption,
    kEnabled,
    kTab,
    kRefreshHint
  };
  Kind kind;
  int index = 0;  // the FormText or FormButton the change is about, where the kind has one
};

/// The control name of an edit box or button (UTF-8), as the window names its widget.
const char* ControlName(FormText box);
const char* ControlName(FormButton button);
/// The radio button of a sort order (UTF-8).
const char* ControlName(SortOrder order);

class MainForm : public Observable<FormChanged> {
 public:
  /// The state the window opens with: default texts, tab 0, every button enabled,
  /// the check box clear, sort by name ascending, the tree hint shown.
  MainForm();

  // Every text is local text (GBK). A setter notifies only when the value changes.
  std::string text(FormText box) const;
  void setText(FormText box, std::string text);
  /// The box's text read as a number (ParseBoxNumber of util/text).
  int number(FormText box) const;

  /// 选择框_删除文件 "检测到被和谐文件时删除文件".
  bool deleteFiles() const;
  void setDeleteFiles(bool checked);

  /// 选择框_对半查找 "对半查找和谐文件（请求更少）": the blocked files of a refused
  /// batch are found by probing halves instead of every file. Off by default.
  bool halvingSearch() const;
  void setHalvingSearch(bool checked);

  SortOrder sortOrder() const;
  void setSortOrder(SortOrder order);

  std::string caption(FormButton button) const;
  void setCaption(FormButton button, std::string caption);

  bool enabled(FormButton button) const;
  void setEnabled(FormButton button, bool enabled);
  /// Disables the button when it is enabled, in one step; true when this call did it.
  /// Lets exactly one of two racing starts claim 按钮_开始检查.
  bool claim(FormButton button);
  /// A task runs exactly while 按钮_开始检查 is disabled.
  bool taskRunning() const { return !enabled(FormButton::kStartCheck); }

  int selectedTab() const;
  void setSelectedTab(int tab);

  /// 透明标签_刷新提示 over the empty tree; once hidden it stays hidden.
  bool refreshHintVisible() const;
  void hideRefreshHint();

 private:
  // A check box's state, read under the lock.
  bool readFlag(const bool& flag) const;

  mutable std::mutex mutex_;
  std::array<std::string, static_cast<size_t>(FormText::kCount)> texts_;
  std::array<std::string, static_cast<size_t>(FormButton::kCount)> captions_;
  std::array<bool, static_cast<size_t>(FormButton::kCount)> enabled_{};
  bool deleteFiles_ = false;
  bool halvingSearch_ = false;
  SortOrder sortOrder_ = SortOrder::kNameAscending;
  int selectedTab_ = kTabAccounts;
  bool refreshHintVisible_ = true;
};

}  // namespace pansift
