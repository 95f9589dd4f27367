#include "gui/blocked_window_view.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeView>
#include <algorithm>
#include <array>
#include <functional>

#include "app/main_window.h"
#include "gui/model_mirror.h"
#include "gui/qt_text.h"

namespace pansift {
namespace {

// The window is designed at 96 DPI; Qt scales logical pixels to the screen.
constexpr int kClientWidth = 789;
constexpr int kClientHeight = 362;
const QRect kListRect(3, 10, 781, 259);

QString FromUnicode(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// 超级列表框2: a tree view that hands every request for its menu to the window, a
// right-click anywhere in it and the keyboard's menu key alike.
class BlockedListView : public QTreeView {
 public:
  BlockedListView(QWidget* parent, std::function<void(const QContextMenuEvent&)> onMenu)
      : QTreeView(parent), onMenu_(std::move(onMenu)) {}

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    onMenu_(*event);
    event->accept();
  }

 private:
  std::function<void(const QContextMenuEvent&)> onMenu_;
};

}  // namespace

// ---- BlockedTableModel ----------------------------------------------------------------

int BlockedTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BlockedTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kBlockedColumnCount;
}

QVariant BlockedTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole)
    return {};
  return FromUnicode(rows_[static_cast<size_t>(index.row())].text(index.column()));
}

QVariant BlockedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kBlockedColumnCount) return {};
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  return Ui(BlockedColumns()[static_cast<size_t>(section)].header);
}

BlockedRowId BlockedTableModel::idAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return kNoBlockedRow;
  return rows_[static_cast<size_t>(row)].id;
}

int BlockedTableModel::rowOf(BlockedRowId id) const {
  auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                             [](const BlockedRow& r, BlockedRowId value) { return r.id < value; });
  if (it == rows_.end() || it->id != id) return -1;
  return static_cast<int>(it - rows_.begin());
}

bool BlockedTableModel::keepsPlaces(const std::vector<BlockedRow>& rows) const {
  if (rows.size() < rows_.size()) return false;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].id != rows[i].id) return false;
  }
  return true;
}

bool BlockedTableModel::sync(std::vector<BlockedRow> rows) {
  // Rows come only at the end, and ids grow downwards. When every row shown is
  // still there, in the same places, changed rows are announced and new ones
  // appended, so selection and scroll position stay. Rows that went (a clear of
  // thousands, an import) make one reset: one pass here and one layout in the view,
  // where a removal notice per gap would make the view lay out its rows once per gap.
  if (!keepsPlaces(rows)) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
    return true;
  }
  const size_t common = rows_.size();
  int first = -1;
  int last = -1;
  for (size_t i = 0; i < common; ++i) {
    if (rows_[i].sameCells(rows[i])) continue;
    rows_[i] = std::move(rows[i]);
    if (first < 0) first = static_cast<int>(i);
    last = static_cast<int>(i);
  }
  if (first >= 0) Q_EMIT dataChanged(index(first, 0), index(last, kBlockedColumnCount - 1));
  if (rows.size() > common) {
    beginInsertRows(QModelIndex(), static_cast<int>(common), static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin() + static_cast<long>(common)),
                 std::make_move_iterator(rows.end()));
    endInsertRows();
  }
  return false;
}

int BlockedTableModel::rowFrom(BlockedRowId id) const {
  auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                             [](const BlockedRow& r, BlockedRowId value) { return r.id < value; });
  return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

// ---- BlockedWindowView ----------------------------------------------------------------

BlockedWindowView::BlockedWindowView(MainWindow& controller, QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      blocked_(controller.blocked()),
      form_(controller.blockedForm()) {
  build();
}

BlockedWindowView::~BlockedWindowView() {
  rowsSubscription_.reset();
  formSubscription_.reset();
  showSubscription_.reset();
  form_.setWindow(0);
}

void BlockedWindowView::build() {
  setObjectName(QStringLiteral("BlockedWindow"));
  setWindowTitle(Ui("已和谐文件列表（软件本次启动后检测到的已和谐历史记录）"));
  setAccessibleName(windowTitle());
  // Closing the main window ends the program even while this one shows.
  setAttribute(Qt::WA_QuitOnClose, false);
  form_.setWindow(reinterpret_cast<WindowId>(static_cast<QWidget*>(this)));
  buildList();
  buildButtons();
  buildTargetFolder();
  buildMenu();
  resize(kClientWidth, kClientHeight);
  move(50, 50);
  bindModels();
}

void BlockedWindowView::buildList() {
  table_ = new BlockedTableModel(this);
  list_ = new BlockedListView(this, [this](const QContextMenuEvent& event) { openMenu(event); });
  list_->setObjectName(Ui("超级列表框2"));
  list_->setAccessibleName(Ui("已和谐文件列表"));
  list_->setModel(table_);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionsMovable(false);
  for (int i = 0; i < kBlockedColumnCount; ++i)
    list_->setColumnWidth(i, BlockedColumns()[static_cast<size_t>(i)].width);
  placed_.push_back({list_, kListRect});
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            blocked_.select(current.isValid() ? table_->idAt(current.row()) : kNoBlockedRow);
          });
}

void BlockedWindowView::buildButtons() {
  struct ButtonPlace {
    BlockedButton button;
    QRect rect;
  };
  const std::array<ButtonPlace, kBlockedButtonCount> buttons = {{
      {BlockedButton::kClearDeleted, QRect(18, 281, 174, 32)},
      {BlockedButton::kExportNames, QRect(226, 281, 184, 32)},
      {BlockedButton::kExportPaths, QRect(463, 281, 104, 32)},
      {BlockedButton::kClearMoved, QRect(18, 323, 174, 32)},
      {BlockedButton::kMove, QRect(226, 323, 184, 32)},
  }};
  for (const ButtonPlace& b : buttons) {
    auto* widget = new QPushButton(Ui(Caption(b.button)), this);
    widget->setObjectName(Ui(ControlName(b.button)));
    widget->setAccessibleName(widget->text());
    placed_.push_back({widget, b.rect});
    buttons_[static_cast<size_t>(b.button)] = widget;
    BlockedButton button = b.button;
    connect(widget, &QPushButton::clicked, this,
            [this, button] { controller_.onBlockedButton(button); });
  }
}

void BlockedWindowView::buildTargetFolder() {
  QLabel* place = makeLabel("透明标签1", "位置：", QRect(418, 326, 40, 24));
  makeLabel("透明标签2", "不填将默认，格式：/aaa", QRect(630, 328, 147, 24));
  target_ = new QLineEdit(FromLocal(form_.targetFolder()), this);
  target_->setObjectName(Ui("编辑框1"));
  target_->setAccessibleName(place->text());
  place->setBuddy(target_);
  placed_.push_back({target_, QRect(463, 328, 152, 24)});
  connect(target_, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_.setTargetFolder(ToLocal(text)); });
}

void BlockedWindowView::buildMenu() {
  makeLabel("透明标签4", "更多功能请右键单击列表", QRect(633, 282, 144, 24));
  menu_ = new QMenu(Ui("已和谐文件列表菜单"), this);
  menu_->setObjectName(Ui("已和谐文件列表菜单"));
  for (int i = 0; i < kBlockedMenuItemCount; ++i) {
    auto item = static_cast<BlockedMenuItem>(i);
    if (SeparatorBefore(item)) menu_->addSeparator();
    QAction* action = menu_->addAction(Ui(BlockedMenuItemText(item)));
    action->setEnabled(BlockedMenuItemEnabled(item));
    menuItems_[static_cast<size_t>(i)] = action;
    connect(action, &QAction::triggered, this, [this, item] { controller_.onBlockedMenu(item); });
  }
}

void BlockedWindowView::openMenu(const QContextMenuEvent& event) {
  QPoint at;  // in the viewport
  if (event.reason() == QContextMenuEvent::Mouse) {
    // A click reaches the view through its viewport, in the viewport's coordinates.
    // It selects the row it is on; on the empty area, none.
    at = event.pos();
    QModelIndex index = list_->indexAt(at);
    if (index.isValid()) {
      list_->setCurrentIndex(index);
    } else {
      list_->selectionModel()->clear();
    }
  } else {
    // The menu key opens it at the selected row, brought into sight, or at the top
    // of the list.
    QModelIndex current = list_->currentIndex();
    if (current.isValid()) list_->scrollTo(current);
    at = current.isValid() ? list_->visualRect(current).center() : QPoint(0, 0);
  }
  // Without a row, the items that act on one are shown greyed; the import, the
  // export and the window's buttons work on the list as a whole.
  const bool onRow = blocked_.row(blocked_.selected()).has_value();
  for (int i = 0; i < kBlockedMenuItemCount; ++i) {
    auto item = static_cast<BlockedMenuItem>(i);
    menuItems_[static_cast<size_t>(i)]->setEnabled(BlockedMenuItemEnabled(item) &&
                                                   (onRow || !BlockedMenuItemActsOnRow(item)));
  }
  menu_->popup(list_->viewport()->mapToGlobal(at));
}

QLabel* BlockedWindowView::makeLabel(const char* name, const char* text, const QRect& design) {
  auto* label = new QLabel(Ui(text), this);
  label->setObjectName(Ui(name));
  label->setAccessibleName(label->text());
  placed_.push_back({label, design});
  return label;
}

void BlockedWindowView::bindModels() {
  syncRows();
  syncForm();
  rowsSubscription_ = MirrorModel(this, blocked_, &BlockedWindowView::syncRows);
  formSubscription_ = MirrorModel(this, form_, &BlockedWindowView::syncForm);
  // Every request to show brings the window to the front, not only the first.
  QPointer<BlockedWindowView> guard = this;
  showSubscription_ = form_.subscribe([guard](const BlockedFormChanged& change) {
    if (change.kind != BlockedFormChanged::Kind::kVisible) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard] {
          if (guard) guard->showRequested();
        },
        QThread::currentThread() == QCoreApplication::instance()->thread() ? Qt::DirectConnection
                                                                           : Qt::QueuedConnection);
  });
}

void BlockedWindowView::syncRows() {
  // Our own selection changes must not be written back while the rows change.
  QSignalBlocker block(list_->selectionModel());
  std::vector<BlockedRow> rows = blocked_.rows();
  // Rows that went make a reset; the row at the top of the view says where it was.
  const BlockedRowId top =
      table_->keepsPlaces(rows) ? kNoBlockedRow : table_->idAt(list_->indexAt(QPoint(0, 0)).row());
  const bool reset = table_->sync(std::move(rows));
  int selected = table_->rowOf(blocked_.selected());
  QModelIndex current = list_->currentIndex();
  if (selected >= 0) {
    if (!current.isValid() || current.row() != selected)
      list_->setCurrentIndex(table_->index(selected, 0));
  } else if (current.isValid()) {
    list_->selectionModel()->clear();
  }
  if (reset && top != kNoBlockedRow) keepTop(top);
  list_->viewport()->update();
}

void BlockedWindowView::keepTop(BlockedRowId top) {
  const int row = table_->rowFrom(top);
  if (row < 0) {
    list_->scrollToBottom();
    return;
  }
  // Only the rows scroll: the columns stay where the user had them.
  const int x = list_->horizontalScrollBar()->value();
  list_->scrollTo(table_->index(row, 0), QAbstractItemView::PositionAtTop);
  list_->horizontalScrollBar()->setValue(x);
}

void BlockedWindowView::syncForm() {
  for (size_t i = 0; i < buttons_.size(); ++i)
    buttons_[i]->setEnabled(form_.enabled(static_cast<BlockedButton>(i)));
  std::string target = form_.targetFolder();
  if (ToLocal(target_->text()) != target) target_->setText(FromLocal(target));
  if (!form_.visible() && isVisible()) hide();
}

void BlockedWindowView::showRequested() {
  if (!form_.visible()) return;
  show();
  raise();
  activateWindow();
}

void BlockedWindowView::closeEvent(QCloseEvent* event) {
  // Only hidden: the rows stay until the program ends.
  event->accept();
  controller_.onBlockedWindowClosed();
}

void BlockedWindowView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeAll();
}

void BlockedWindowView::placeAll() {
  // The list takes the extra room; the controls below it keep to the bottom edge.
  int dx = std::max(0, width() - kClientWidth);
  int dy = std::max(0, height() - kClientHeight);
  for (const Placed& p : placed_) {
    if (p.widget == list_) {
      p.widget->setGeometry(p.design.adjusted(0, 0, dx, dy));
    } else {
      p.widget->setGeometry(p.design.translated(0, dy));
    }
  }
}

}  // namespace pansift
