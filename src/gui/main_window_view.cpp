#include "gui/main_window_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "core/main_form.h"
#include "gui/blocked_window_view.h"
#include "gui/folder_tree_binding.h"
#include "gui/login_windows.h"
#include "gui/model_mirror.h"
#include "gui/post_if_alive.h"
#include "gui/qt_text.h"
#include "pipeline/task_context.h"

namespace pansift {
namespace {

// The window is designed at 96 DPI; Qt scales logical pixels to the screen.
constexpr int kClientWidth = 991;
constexpr int kClientHeight = 635;
constexpr int kStatusBarHeight = 20;
constexpr int kDesignCentralHeight = kClientHeight - kStatusBarHeight - 4;

// Places on the tab control are given relative to the whole control; a Qt tab page
// starts below the tab bar, so they are moved up by the bar's height.
constexpr int kTabPageTop = 27;
constexpr int kTabPageLeft = 2;

QRect OnTabPage(int x, int y, int width, int height) {
  return QRect(x - kTabPageLeft, y - kTabPageTop, width, height);
}

struct LabelledBox {
  const char* labelName;
  const char* labelText;
  QRect labelRect;
  FormText box;
  QRect boxRect;
};

// The settings of the check task on tab "清理和谐文件", each with the label before it.
const std::array<LabelledBox, 7> kCleanTabBoxes = {{
    {"透明标签7", "预读取线程数：", OnTabPage(16, 43, 88, 32), FormText::kPrereadThreads,
     OnTabPage(168, 46, 126, 24)},
    {"透明标签3", "检查线程数：", OnTabPage(16, 75, 88, 32), FormText::kCheckThreads,
     OnTabPage(168, 78, 126, 24)},
    {"透明标签4", "每线程检查文件数量上限：", OnTabPage(16, 107, 144, 32), FormText::kFilesPerBatch,
     OnTabPage(168, 110, 126, 24)},
    {"透明标签5", "检查深度(0表示不限制)：", OnTabPage(16, 139, 136, 32), FormText::kDepth,
     OnTabPage(168, 142, 126, 24)},
    {"透明标签9", "检测违规如遇频繁等待/s：", OnTabPage(16, 221, 144, 32), FormText::kAutoDelay,
     OnTabPage(168, 224, 126, 24)},
    {"透明标签10", "检测违规文件提交间隔/s：", OnTabPage(16, 257, 144, 32),
     FormText::kSubmitInterval, OnTabPage(168, 260, 126, 24)},
    {"透明标签11", "删除违规文件操作间隔/s：", OnTabPage(16, 296, 144, 32),
     FormText::kDeleteInterval, OnTabPage(168, 299, 126, 24)},
}};

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text) {
  auto* label = new QLabel(Ui(text), parent);
  label->setObjectName(Ui(name));
  label->setAccessibleName(label->text());
  label->setWordWrap(false);
  return label;
}

}  // namespace

struct MainWindowView::Owned {
  explicit Owned(AppState& app) : controller(app, form, accounts) {}
  MainForm form;
  AccountStore accounts;
  MainWindow controller;
};

MainWindowView::MainWindowView(AppState& app, QWidget* parent)
    : QMainWindow(parent),
      owned_(std::make_unique<Owned>(app)),
      controller_(&owned_->controller),
      app_(app),
      form_(owned_->form),
      accounts_(owned_->accounts) {
  build();
}

MainWindowView::MainWindowView(MainWindow& controller, QWidget* parent)
    : QMainWindow(parent),
      controller_(&controller),
      app_(controller.app()),
      form_(controller.form()),
      accounts_(controller.accounts()) {
  build();
}

MainWindowView::~MainWindowView() {
  controller_->setLoginChooser({});
  // A window of its own, not a child: it goes first, while the models live.
  delete blockedWindow_;
  logSubscription_.reset();
  statusSubscription_.reset();
  formSubscription_.reset();
  accountsSubscription_.reset();
  // The widgets write into the models while they go; delete them while the models live.
  for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    child->blockSignals(true);
    delete child;
  }
}

void MainWindowView::build() {
  self_ = this;
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(Ui("PanSift") + Ui("  当前版本：") + FromLocal(app_.versionText));
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  setCentralWidget(central);
  buildTabs(central);
  buildBottomLeft(central);
  buildTree(central);
  buildLogGroup(central);
  buildStatusBar();
  bindForm();
  // Created hidden, so the checker can fill its list before the user first opens it.
  blockedWindow_ = new BlockedWindowView(*controller_);
  setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);
  move(50, 50);
}

void MainWindowView::place(QWidget* widget, const QRect& design, double moveX, double moveY,
                           double growX, double growY) {
  widget->setGeometry(design);
  anchors_.push_back({widget, design, moveX, moveY, growX, growY});
}

void MainWindowView::buildTabs(QWidget* central) {
  auto* tabs = tabs_ = new QTabWidget(central);
  tabs->setObjectName(Ui("高级选择夹1"));
  place(tabs, QRect(8, 8, 312, 456), 0, 0, 0, 1);
  const std::array<const char*, 3> titles = {"选择百度帐号", "手动添加cookie", "清理和谐文件"};
  std::array<QWidget*, 3> pages{};
  for (size_t i = 0; i < titles.size(); ++i) {
    pages[i] = new QWidget();
    pages[i]->setObjectName(QStringLiteral("tab%1").arg(i));
    pages[i]->setAccessibleName(Ui(titles[i]));
    tabs->addTab(pages[i], Ui(titles[i]));
  }
  tabs->setAccessibleName(Ui(titles[0]) + QStringLiteral(" / ") + Ui(titles[1]) +
                          QStringLiteral(" / ") + Ui(titles[2]));
  tabs->setCurrentIndex(form_.selectedTab());
  connect(tabs, &QTabWidget::currentChanged, this,
          [this](int index) { form_.setSelectedTab(index); });
  buildAccountList(pages[kTabAccounts]);
  buildAddCookieTab(pages[kTabAddCookie]);
  buildCleanTab(pages[kTabClean]);
}

void MainWindowView::buildAccountList(QWidget* page) {
  accountList_ = new QTreeWidget(page);
  accountList_->setObjectName(Ui("超级列表框1"));
  accountList_->setAccessibleName(Ui("选择百度帐号"));
  place(accountList_, OnTabPage(8, 35, 298, 413), 0, 0, 0, 1);
  accountList_->setRootIsDecorated(false);
  accountList_->setUniformRowHeights(true);
  accountList_->setAllColumnsShowFocus(true);
  accountList_->setSelectionMode(QAbstractItemView::SingleSelection);
  accountList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  accountList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  accountList_->setContextMenuPolicy(Qt::CustomContextMenu);
  accountList_->header()->setStretchLastSection(false);
  accountList_->header()->setMinimumSectionSize(1);
  accountList_->header()->setSectionsMovable(false);
  QStringList headers;
  for (const AccountColumnInfo& column : AccountColumns()) headers << Ui(column.header);
  accountList_->setHeaderLabels(headers);
  for (int i = 0; i < kAccountColumnCount; ++i)
    accountList_->setColumnWidth(i, AccountColumns()[i].width);

  accountMenu_ = new QMenu(Ui("cookies操作"), this);
  accountMenu_->setObjectName(Ui("cookies操作"));
  for (int i = 0; i < kAccountMenuItemCount; ++i) {
    auto item = static_cast<AccountMenuItem>(i);
    if (item == AccountMenuItem::kCopyUserName) accountMenu_->addSeparator();
    QAction* action = accountMenu_->addAction(Ui(AccountMenuItemText(item)));
    connect(action, &QAction::triggered, this, [this, item] { controller_->onAccountMenu(item); });
  }

  connect(accountList_, &QTreeWidget::itemSelectionChanged, this, [this] {
    QList<QTreeWidgetItem*> selected = accountList_->selectedItems();
    accounts_.setSelectedRow(
        selected.isEmpty() ? -1 : accountList_->indexOfTopLevelItem(selected.first()));
  });
  connect(accountList_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    controller_->onAccountDoubleClicked(accountList_->indexOfTopLevelItem(item));
  });
  connect(accountList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    QTreeWidgetItem* item = accountList_->itemAt(pos);
    if (!item) return;  // the menu belongs to a row
    accountList_->setCurrentItem(item);
    accountMenu_->popup(accountList_->viewport()->mapToGlobal(pos));
  });
  syncAccounts();
  accountsSubscription_ = mirror(accounts_, &MainWindowView::syncAccounts);
}

void MainWindowView::buildAddCookieTab(QWidget* page) {
  auto* cookies = cookiesBox_ = new QPlainTextEdit(page);
  cookies->setObjectName(Ui(ControlName(FormText::kCookies)));
  cookies->setAccessibleName(Ui("手动添加cookie"));
  cookies->setPlainText(FromLocal(form_.text(FormText::kCookies)));
  place(cookies, OnTabPage(8, 36, 296, 348), 0, 0, 0, 1);
  connect(cookies, &QPlainTextEdit::textChanged, this,
          [this, cookies] { form_.setText(FormText::kCookies, ToLocal(cookies->toPlainText())); });

  QPushButton* add = makeButton(page, FormButton::kAddAccount);
  place(add, OnTabPage(19, 402, 272, 32), 0, 1, 0, 0);
  connect(add, &QPushButton::clicked, this, [this] { controller_->onAddAccountClicked(); });
}

void MainWindowView::buildCleanTab(QWidget* page) {
  for (const LabelledBox& row : kCleanTabBoxes) {
    QLabel* label = MakeLabel(page, row.labelName, row.labelText);
    place(label, row.labelRect);
    auto* box = textBoxes_[static_cast<size_t>(row.box)] =
        new QLineEdit(FromLocal(form_.text(row.box)), page);
    box->setObjectName(Ui(ControlName(row.box)));
    box->setAccessibleName(label->text());
    label->setBuddy(box);
    place(box, row.boxRect);
    FormText field = row.box;
    connect(box, &QLineEdit::textChanged, this,
            [this, field](const QString& text) { form_.setText(field, ToLocal(text)); });
  }
  place(MakeLabel(page, "透明标签6", "填2表示检查到 /选中目录/1层/2层  所有层都会检查"),
        OnTabPage(16, 170, 288, 24));
  place(MakeLabel(page, "透明标签8", "例:要查根目录下的文件，选中xx的网盘，深度填1即可"),
        OnTabPage(16, 196, 288, 24));

  struct CheckPlace {
    const char* name;
    const char* text;
    bool (MainForm::*get)() const;
    void (MainForm::*set)(bool);
    QRect rect;
    QCheckBox* MainWindowView::*kept;
  };
  const std::array<CheckPlace, 2> checks = {{
      {"选择框_删除文件", "检测到被和谐文件时删除文件", &MainForm::deleteFiles,
       &MainForm::setDeleteFiles, OnTabPage(17, 341, 191, 24), &MainWindowView::deleteFilesBox_},
      {"选择框_对半查找", "对半查找和谐文件（请求更少）", &MainForm::halvingSearch,
       &MainForm::setHalvingSearch, OnTabPage(17, 366, 191, 24),
       &MainWindowView::halvingSearchBox_},
  }};
  for (const CheckPlace& c : checks) {
    auto* box = this->*c.kept = new QCheckBox(Ui(c.text), page);
    box->setObjectName(Ui(c.name));
    box->setAccessibleName(box->text());
    box->setChecked((form_.*c.get)());
    place(box, c.rect);
    auto set = c.set;
    connect(box, &QCheckBox::toggled, this, [this, set](bool checked) { (form_.*set)(checked); });
  }

  struct ButtonPlace {
    FormButton button;
    QRect rect;
    void (MainWindow::*handler)();
  };
  const std::array<ButtonPlace, 4> buttons = {{
      {FormButton::kBlockedFiles, OnTabPage(205, 338, 88, 30), &MainWindow::onBlockedFilesClicked},
      {FormButton::kStopCheck, OnTabPage(73, 394, 40, 32), &MainWindow::onStopCheckClicked},
      {FormButton::kPauseCheck, OnTabPage(134, 394, 48, 32), &MainWindow::onPauseCheckClicked},
      {FormButton::kStartCheck, OnTabPage(200, 394, 95, 32), &MainWindow::onStartCheckClicked},
  }};
  for (const ButtonPlace& b : buttons) {
    QPushButton* widget = makeButton(page, b.button);
    place(widget, b.rect);
    auto handler = b.handler;
    connect(widget, &QPushButton::clicked, this, [this, handler] { (controller_->*handler)(); });
  }
}

void MainWindowView::buildBottomLeft(QWidget* central) {
  QPushButton* login = makeButton(central, FormButton::kLogin);
  place(login, QRect(231, 484, 89, 27), 0, 1);
  connect(login, &QPushButton::clicked, this, [this] { controller_->onLoginClicked(); });
  controller_->setLoginChooser([this] {
    LoginChooser chooser(*controller_, this);
    chooser.exec();
  });
  QPushButton* save = makeButton(central, FormButton::kSaveCookies);
  place(save, QRect(231, 526, 89, 24), 0, 1);
  connect(save, &QPushButton::clicked, this, [this] { controller_->onSaveCookiesClicked(); });
  QPushButton* refresh = makeButton(central, FormButton::kRefreshRoot);
  place(refresh, QRect(233, 570, 88, 31), 0, 1);
  connect(refresh, &QPushButton::clicked, this, [this] { controller_->onRefreshRootClicked(); });

  // The four sort orders are one group; listings read the choice when they start.
  auto* group = sortOrders_ = new QButtonGroup(this);
  group->setObjectName(QStringLiteral("sortOrderGroup"));
  group->setExclusive(true);
  const std::array<std::pair<const char*, QRect>, 4> radios = {{
      {"按名称正排", QRect(22, 492, 80, 24)},
      {"按名称倒排", QRect(114, 492, 80, 24)},
      {"按时间正排", QRect(22, 531, 80, 24)},
      {"按时间倒排", QRect(114, 532, 80, 24)},
  }};
  for (int i = 0; i < 4; ++i) {
    auto* radio = new QRadioButton(Ui(radios[i].first), central);
    radio->setObjectName(Ui(ControlName(static_cast<SortOrder>(i))));
    radio->setAccessibleName(radio->text());
    place(radio, radios[i].second, 0, 1);
    group->addButton(radio, i);
  }
  group->button(static_cast<int>(form_.sortOrder()))->setChecked(true);
  connect(group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) form_.setSortOrder(static_cast<SortOrder>(id));
  });

  place(MakeLabel(central, "透明标签1", "通过右键选择cookies或目录进行操作"),
        QRect(8, 572, 216, 24), 0, 1);
}

void MainWindowView::buildTree(QWidget* central) {
  auto* tree = new QTreeWidget(central);
  tree->setObjectName(Ui("树型框1"));
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  place(tree, QRect(330, 4, 651, 460), 0, 0, 1, 1);
  // The binding is the tree widget's child; the model lives in the controller.
  new FolderTreeBinding(controller_->tree(), tree, [this] { controller_->onTreeNodeEvent(); });

  treeMenu_ = new QMenu(Ui("文件目录树菜单"), this);
  treeMenu_->setObjectName(Ui("文件目录树菜单"));
  QAction* start = treeMenu_->addAction(Ui("开始检测选中目录"));
  connect(start, &QAction::triggered, this, [this] { controller_->onTreeMenuStartCheck(); });
  connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& pos) {
    treeMenu_->popup(tree->viewport()->mapToGlobal(pos));
  });

  auto* hint = refreshHint_ =
      MakeLabel(central, "透明标签_刷新提示", "点击左下方“刷新根目录”按钮显示网盘文件列表");
  hint->setAlignment(Qt::AlignCenter);
  // The hint lies over the tree without taking its clicks.
  hint->setAttribute(Qt::WA_TransparentForMouseEvents);
  place(hint, QRect(443, 182, 448, 42), 0.5, 0.5);
  hint->raise();
  tree->setAccessibleName(hint->text());
}

void MainWindowView::buildLogGroup(QWidget* central) {
  auto* group = new QGroupBox(Ui("清理记录  (如果下面无显示，表示文件都正常)"), central);
  group->setObjectName(Ui("分组框1"));
  group->setAccessibleName(group->title());
  place(group, QRect(328, 472, 656, 136), 0, 1, 1, 0);
  logPane_ = new QPlainTextEdit(group);
  logPane_->setObjectName(Ui("编辑框_日志"));
  place(logPane_, QRect(8, 16, 640, 114), 0, 0, 1, 0);
  logPane_->setReadOnly(true);
  logPane_->setAccessibleName(group->title());
  appendLogText(FromLocal(app_.log.text()));
  // Every append is delivered, in order.
  QPointer<MainWindowView> guard = this;
  logSubscription_ = app_.log.subscribe([guard](const LogAppended& change) {
    QString text = FromLocal(change.text);
    PostIfAlive(guard, [text](MainWindowView* window) { window->appendLogText(text); });
  });
}

void MainWindowView::buildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(Ui("状态条1"));
  bar->setSizeGripEnabled(false);
  bar->setFixedHeight(kStatusBarHeight + 4);
  auto* fixed = new QLabel(Ui("操作提示："), bar);
  fixed->setObjectName(QStringLiteral("statusFixedPane"));
  fixed->setFixedWidth(60);
  fixed->setAccessibleName(fixed->text());
  statusText_ = new QLabel(bar);
  statusText_->setObjectName(QStringLiteral("statusMessagePane"));
  showStatus(FromLocal(app_.status.text()));
  bar->addWidget(fixed);
  bar->addWidget(statusText_, 1);
  progress_ = new QProgressBar(bar);
  progress_->setObjectName(QStringLiteral("checkProgress"));
  progress_->setFixedWidth(180);
  progress_->setFormat(QStringLiteral("%v / %m"));
  progress_->setVisible(false);
  bar->addPermanentWidget(progress_);
  // The counters change on the task's threads many times a second: a look four
  // times a second is all the eye needs, and costs the task nothing.
  auto* progressTimer = new QTimer(this);
  progressTimer->setObjectName(QStringLiteral("checkProgressTimer"));
  connect(progressTimer, &QTimer::timeout, this, &MainWindowView::updateProgress);
  progressTimer->start(250);
  QPointer<MainWindowView> guard = this;
  statusSubscription_ = app_.status.subscribe([guard](const StatusChanged& change) {
    QString text = FromLocal(change.text);
    PostIfAlive(guard, [text](MainWindowView* window) { window->showStatus(text); });
  });
}

void MainWindowView::showStatus(const QString& text) {
  // A label exposes no text of its own to assistive technology: its name is what
  // a screen reader reads, so the name is the message (the fixed pane beside it
  // carries the caption).
  statusText_->setText(text);
  statusText_->setAccessibleName(text);
}

void MainWindowView::updateProgress() {
  CheckTask& task = controller_->checkTask();
  if (!form_.taskRunning() && !task.active()) {
    progress_->setVisible(false);
    return;
  }
  const TaskContext& context = task.context();
  const long long total = context.checkTotal.load();
  // Before the check phase the catalogue is still growing and nothing is checked.
  const long long catalogued = total >= 0 ? total : app_.prereadCount.load();
  const long long checked = total >= 0 ? std::min(context.checkedRows.load(), total) : 0;
  // QProgressBar counts in int; a bigger catalogue is shown in proportion.
  const double scale = catalogued > INT_MAX ? static_cast<double>(INT_MAX) / catalogued : 1.0;
  progress_->setRange(0, static_cast<int>(std::max(catalogued, 1LL) * scale));
  progress_->setValue(static_cast<int>(checked * scale));
  progress_->setFormat(QString::number(checked) + QStringLiteral(" / ") +
                       QString::number(catalogued));
  progress_->setAccessibleName(progress_->format());
  progress_->setVisible(true);
}

QPushButton* MainWindowView::makeButton(QWidget* parent, FormButton button) {
  auto* widget = new QPushButton(FromLocal(form_.caption(button)), parent);
  widget->setObjectName(Ui(ControlName(button)));
  widget->setAccessibleName(widget->text());
  buttons_[static_cast<size_t>(button)] = widget;
  return widget;
}

void MainWindowView::bindForm() {
  syncForm();
  formSubscription_ = mirror(form_, &MainWindowView::syncForm);
}

template <class Model>
Subscription MainWindowView::mirror(Model& model, void (MainWindowView::*sync)()) {
  return MirrorModel(this, model, sync);
}

void MainWindowView::syncForm() {
  const std::string cookies = form_.text(FormText::kCookies);
  if (ToLocal(cookiesBox_->toPlainText()) != cookies) cookiesBox_->setPlainText(FromLocal(cookies));
  for (size_t i = 0; i < textBoxes_.size(); ++i) {
    std::string value = form_.text(static_cast<FormText>(i));
    QLineEdit* line = textBoxes_[i];
    if (line && ToLocal(line->text()) != value) line->setText(FromLocal(value));
  }
  for (size_t i = 0; i < buttons_.size(); ++i) {
    auto button = static_cast<FormButton>(i);
    QPushButton* widget = buttons_[i];
    QString caption = FromLocal(form_.caption(button));
    if (widget->text() != caption) {
      widget->setText(caption);
      widget->setAccessibleName(caption);
    }
    widget->setEnabled(form_.enabled(button));
  }
  deleteFilesBox_->setChecked(form_.deleteFiles());
  halvingSearchBox_->setChecked(form_.halvingSearch());
  if (QAbstractButton* radio = sortOrders_->button(static_cast<int>(form_.sortOrder())))
    radio->setChecked(true);
  tabs_->setCurrentIndex(form_.selectedTab());
  refreshHint_->setVisible(form_.refreshHintVisible());
}

void MainWindowView::syncAccounts() {
  AccountStore::Snapshot snap = accounts_.snapshot();
  // Our own selection changes must not be written back while the rows are rebuilt.
  QSignalBlocker block(accountList_);
  int rows = static_cast<int>(snap.rows.size());
  while (accountList_->topLevelItemCount() > rows) delete accountList_->takeTopLevelItem(rows);
  for (int r = 0; r < rows; ++r) {
    QTreeWidgetItem* item = accountList_->topLevelItem(r);
    if (!item) item = new QTreeWidgetItem(accountList_);
    for (int c = 0; c < kAccountColumnCount; ++c) {
      QString text = FromLocal(snap.rows[r].cell(c));
      if (item->text(c) != text) item->setText(c, text);
    }
  }
  if (snap.selectedRow >= 0 && snap.selectedRow < rows) {
    QTreeWidgetItem* item = accountList_->topLevelItem(snap.selectedRow);
    if (!item->isSelected() || accountList_->currentItem() != item)
      accountList_->setCurrentItem(item);
  } else if (!accountList_->selectedItems().isEmpty()) {
    accountList_->clearSelection();
    accountList_->setCurrentItem(nullptr);
  }
}

void MainWindowView::applyAnchors() {
  QWidget* central = centralWidget();
  if (!central) return;
  int dx = std::max(0, central->width() - kClientWidth);
  int dy = std::max(0, central->height() - kDesignCentralHeight);
  for (const Anchor& a : anchors_) {
    if (!a.widget) continue;
    a.widget->setGeometry(a.design.x() + static_cast<int>(a.moveX * dx),
                          a.design.y() + static_cast<int>(a.moveY * dy),
                          a.design.width() + static_cast<int>(a.growX * dx),
                          a.design.height() + static_cast<int>(a.growY * dy));
  }
}

void MainWindowView::appendLogText(const QString& text) {
  if (text.isEmpty()) return;
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QTextCursor cursor(logPane_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(plain);
  logPane_->verticalScrollBar()->setValue(logPane_->verticalScrollBar()->maximum());
}

bool MainWindowView::taskRunning() const {
  return form_.taskRunning();
}

void MainWindowView::closeEvent(QCloseEvent* event) {
  if (controller_->onCloseRequested()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void MainWindowView::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  applyAnchors();
}

}  // namespace pansift
