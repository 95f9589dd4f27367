#include "core/main_form.h"

#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr size_t Index(FormText box) {
  return static_cast<size_t>(box);
}
constexpr size_t Index(FormButton button) {
  return static_cast<size_t>(button);
}

struct TextBox {
  const char* name;
  const char* defaultText;
};
constexpr std::array<TextBox, Index(FormText::kCount)> kTextBoxes = {{
    {"编辑框_百度cookies", ""},
    {"编辑框_预读取线程数", "10"},
    {"编辑框_检查线程数", ""},
    {"编辑框_每次检查文件数量", "50"},
    {"编辑框_检查深度", ""},
    {"编辑框_自动延时秒数", "30"},
    {"编辑框_检测违规文件提交间隔", ""},
    {"编辑框_删除违规文件操作间隔", ""},
}};

struct Button {
  const char* name;
  const char* caption;
};
constexpr std::array<Button, Index(FormButton::kCount)> kButtons = {{
    {"按钮1", "刷新根目录"},
    {"按钮2", "帐号登陆"},
    {"按钮3", "手动添加，或通过下方的帐号登陆方式添加"},
    {"按钮4", "保存cookies"},
    {"按钮7", "已和谐文件"},
    {"按钮_停止检查", "停止"},
    {"按钮_暂停检查", "暂停"},
    {"按钮_开始检查", "开始检查"},
}};

constexpr std::array<const char*, 4> kSortRadios = {"单选框_按名称正排", "单选框_按名称倒排",
                                                    "单选框_按时间正排", "单选框_按时间倒排"};

}  // namespace

const char* ControlName(FormText box) {
  return kTextBoxes[Index(box)].name;
}
const char* ControlName(FormButton button) {
  return kButtons[Index(button)].name;
}
const char* ControlName(SortOrder order) {
  return kSortRadios[static_cast<size_t>(order)];
}

MainForm::MainForm() {
  for (size_t i = 0; i < kTextBoxes.size(); ++i) texts_[i] = L8(kTextBoxes[i].defaultText);
  for (size_t i = 0; i < kButtons.size(); ++i) {
    captions_[i] = L8(kButtons[i].caption);
    enabled_[i] = true;
  }
}

std::string MainForm::text(FormText box) const {
  std::lock_guard lock(mutex_);
  return texts_[Index(box)];
}

void MainForm::setText(FormText box, std::string text) {
  setAndNotify(mutex_, texts_[Index(box)], std::move(text),
               {FormChanged::Kind::kText, static_cast<int>(box)});
}

int MainForm::number(FormText box) const {
  return ParseBoxNumber(text(box));
}

bool MainForm::deleteFiles() const {
  return readFlag(deleteFiles_);
}

void MainForm::setDeleteFiles(bool checked) {
  setAndNotify(mutex_, deleteFiles_, checked, {FormChanged::Kind::kDeleteFiles});
}

bool MainForm::halvingSearch() const {
  return readFlag(halvingSearch_);
}

void MainForm::setHalvingSearch(bool checked) {
  setAndNotify(mutex_, halvingSearch_, checked, {FormChanged::Kind::kHalvingSearch});
}

bool MainForm::readFlag(const bool& flag) const {
  std::lock_guard lock(mutex_);
  return flag;
}

SortOrder MainForm::sortOrder() const {
  std::lock_guard lock(mutex_);
  return sortOrder_;
}

void MainForm::setSortOrder(SortOrder order) {
  setAndNotify(mutex_, sortOrder_, order, {FormChanged::Kind::kSortOrder});
}

std::string MainForm::caption(FormButton button) const {
  std::lock_guard lock(mutex_);
  return captions_[Index(button)];
}

void MainForm::setCaption(FormButton button, std::string caption) {
  setAndNotify(mutex_, captions_[Index(button)], std::move(caption),
               {FormChanged::Kind::kCaption, static_cast<int>(button)});
}

bool MainForm::enabled(FormButton button) const {
  std::lock_guard lock(mutex_);
  return enabled_[Index(button)];
}

void MainForm::setEnabled(FormButton button, bool enabled) {
  setAndNotify(mutex_, enabled_[Index(button)], enabled,
               {FormChanged::Kind::kEnabled, static_cast<int>(button)});
}

bool MainForm::claim(FormButton button) {
  // Only the call that finds the button enabled changes it.
  return setAndNotify(mutex_, enabled_[Index(button)], false,
                      {FormChanged::Kind::kEnabled, static_cast<int>(button)});
}

int MainForm::selectedTab() const {
  std::lock_guard lock(mutex_);
  return selectedTab_;
}

void MainForm::setSelectedTab(int tab) {
  if (tab < kTabAccounts || tab > kTabClean) return;
  setAndNotify(mutex_, selectedTab_, tab, {FormChanged::Kind::kTab});
}

bool MainForm::refreshHintVisible() const {
  std::lock_guard lock(mutex_);
  return refreshHintVisible_;
}

void MainForm::hideRefreshHint() {
  setAndNotify(mutex_, refreshHintVisible_, false, {FormChanged::Kind::kRefreshHint});
}

}  // namespace pansift
