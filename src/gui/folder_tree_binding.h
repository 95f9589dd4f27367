// Mirrors the FolderTree model into the tree widget 树型框1 and writes the user's
// expanding, folding and selecting back into the model. A double-click on a node
// raises the tree's node event.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <unordered_map>

#include "tree/folder_tree.h"
#include "util/observable.h"

namespace pansift {

/// The tree's picture `index` (0..16), 16 by 15 pixels: the desktop icon theme's
/// picture when it has one, else a standard picture of the style; never null.
QIcon TreePicture(int index);

class FolderTreeBinding : public QObject {
  Q_OBJECT

 public:
  /// Binds `widget` to `model`; the binding is a child of the widget and goes with
  /// it. The model must outlive the widget (the widget's last signals reach the
  /// model through the binding). `onNodeEvent` runs on the GUI thread after a double-click, once
  /// the double-click's own expanding or folding and the selection are in the model.
  FolderTreeBinding(FolderTree& model, QTreeWidget* widget, std::function<void()> onNodeEvent);
  ~FolderTreeBinding() override;

  /// The widget item showing a node, or nullptr (not shown yet, or gone).
  QTreeWidgetItem* item(NodeId node) const;
  QTreeWidget* widget() const { return widget_; }

 private:
  void apply(const TreeChanged& change);
  void addItem(NodeId node, NodeId parent, const std::u16string& text, int picture,
               NodeValue value);
  void forget(QTreeWidgetItem* item);
  void showSelection();
  void applyPictures();

  FolderTree& model_;
  QPointer<QTreeWidget> widget_;
  std::function<void()> onNodeEvent_;
  std::unordered_map<NodeId, QTreeWidgetItem*> items_;
  bool picturesShown_ = false;
  bool applying_ = false;  // our own widget changes are not written back
  Subscription subscription_;
};

/// Finds 树型框1 below `window` and binds it to `model`; nullptr when there is no
/// such widget. The binding lives as long as the widget.
FolderTreeBinding* BindFolderTree(QWidget* window, FolderTree& model,
                                  std::function<void()> onNodeEvent);

}  // namespace pansift
