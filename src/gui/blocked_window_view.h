// The blocked-file window: 超级列表框2 mirroring the BlockedList, the buttons, the
// move's target folder and the menu "已和谐文件列表菜单". A window of its own, hidden
// until "已和谐文件" shows it; closing it only hides it.
#pragma once

#include <QAbstractTableModel>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstddef>
#include <vector>

#include "blocked/blocked_actions.h"
#include "blocked/blocked_list.h"
#include "util/observable.h"

class QAction;
class QContextMenuEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;

namespace pansift {

class MainWindow;

/// The rows as the list view shows them: a copy of the model's rows, brought up to
/// date by sync().
class BlockedTableModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  /// Takes the model's rows: changes and appended rows as such, anything else
  /// (rows gone) as a reset, linear in the rows either way. True after a reset.
  bool sync(std::vector<BlockedRow> rows);
  BlockedRowId idAt(int row) const;
  int rowOf(BlockedRowId id) const;
  /// Whether every row shown is in `rows`, at its place (sync changes and appends).
  bool keepsPlaces(const std::vector<BlockedRow>& rows) const;
  /// The row of `id`, or else of the first row below where it was; -1 when none.
  int rowFrom(BlockedRowId id) const;

 private:
  std::vector<BlockedRow> rows_;
};

class BlockedWindowView : public QWidget {
  Q_OBJECT

 public:
  BlockedWindowView(MainWindow& controller, QWidget* parent = nullptr);
  ~BlockedWindowView() override;

  QMenu* menu() const { return menu_; }
  QTreeView* list() const { return list_; }
  /// The list's row of a model row, or -1.
  int rowOf(BlockedRowId id) const { return table_->rowOf(id); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  static constexpr std::size_t kBlockedButtonCount =
      static_cast<std::size_t>(BlockedButton::kCount);

  // One part of the window each: the list, the buttons below it, the move's target
  // folder, the list's menu; then the bindings to the models.
  void build();
  void buildList();
  void buildButtons();
  void buildTargetFolder();
  void buildMenu();
  void bindModels();
  QLabel* makeLabel(const char* name, const char* text, const QRect& design);
  /// The list's menu, asked for by a right-click or the menu key.
  void openMenu(const QContextMenuEvent& event);
  void syncRows();
  /// Scrolls so that the row `top`, or the first row below where it was, is at the top.
  void keepTop(BlockedRowId top);
  void syncForm();
  void showRequested();
  void placeAll();

  MainWindow& controller_;
  BlockedList& blocked_;
  BlockedForm& form_;
  BlockedTableModel* table_ = nullptr;
  QTreeView* list_ = nullptr;
  QMenu* menu_ = nullptr;
  std::array<QAction*, kBlockedMenuItemCount> menuItems_{};  // by BlockedMenuItem
  QLineEdit* target_ = nullptr;
  std::array<QPushButton*, kBlockedButtonCount> buttons_{};  // by BlockedButton
  struct Placed {
    QWidget* widget;
    QRect design;
  };
  std::vector<Placed> placed_;
  Subscription rowsSubscription_;
  Subscription formSubscription_;
  Subscription showSubscription_;
};

}  // namespace pansift
