#include "gui/folder_tree_binding.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <array>

#include "gui/post_if_alive.h"
#include "gui/qt_text.h"
#include "tree/file_icon.h"
#include "util/codepage.h"

namespace pansift {
namespace {

constexpr int kNodeRole = Qt::UserRole;
constexpr int kPictureRole = Qt::UserRole + 1;
const QSize kPictureSize(16, 15);

struct PictureSource {
  std::array<const char*, 3> themeNames;  // tried in order; nullptr ends the list
  QStyle::StandardPixmap standard;
  QRgb colour;  // the last resort: a plain tile
};

// Freedesktop icon names (present in Adwaita), then a standard picture of the style.
const std::array<PictureSource, kPictureCount> kPictureSources = {{
    {{"folder", "inode-directory", nullptr}, QStyle::SP_DirIcon, 0xffe8b84a},
    {{"video-x-generic", "folder-videos", nullptr}, QStyle::SP_MediaPlay, 0xff8e44ad},
    {{"package-x-generic", "application-x-archive", nullptr}, QStyle::SP_DriveHDIcon, 0xffa0522d},
    {{"application-vnd.android.package-archive", "application-x-addon", nullptr},
     QStyle::SP_DesktopIcon,
     0xff3ddc84},
    {{"edit-find", "system-search", nullptr}, QStyle::SP_FileDialogContentsView, 0xff555555},
    {{"edit-copy", "folder-documents", nullptr}, QStyle::SP_FileDialogDetailedView, 0xff7f8c8d},
    {{"avatar-default", "system-users", "user-info"}, QStyle::SP_DirHomeIcon, 0xff2e86de},
    {{"image-x-generic", "folder-pictures", nullptr}, QStyle::SP_DesktopIcon, 0xff27ae60},
    {{"audio-x-generic", "folder-music", nullptr}, QStyle::SP_MediaVolume, 0xffe67e22},
    {{"application-x-generic", "text-x-generic", nullptr}, QStyle::SP_FileIcon, 0xffbdc3c7},
    {{"application-pdf", "x-office-document-template", nullptr},
     QStyle::SP_FileDialogInfoView,
     0xffc0392b},
    {{"application-x-executable", "system-run", nullptr}, QStyle::SP_ComputerIcon, 0xff34495e},
    {{"text-html", "text-x-script", nullptr}, QStyle::SP_FileLinkIcon, 0xff16a085},
    {{"text-x-generic", nullptr, nullptr}, QStyle::SP_FileIcon, 0xffecf0f1},
    {{"x-office-document", nullptr, nullptr}, QStyle::SP_FileDialogListView, 0xff2b579a},
    {{"x-office-spreadsheet", nullptr, nullptr}, QStyle::SP_FileDialogDetailedView, 0xff217346},
    {{"x-office-presentation", nullptr, nullptr}, QStyle::SP_DriveNetIcon, 0xffd24726},
}};

// Without a desktop session (offscreen, a bare X server) Qt knows neither the
// system's icon folders nor a theme. The system's own theme is what the desktop
// would show, so point Qt at it once.
void PrepareIconTheme() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  QStringList paths = QIcon::themeSearchPaths();
  QStringList dataDirs =
      qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  if (dataDirs.isEmpty())
    dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
  QString home = qEnvironmentVariable("XDG_DATA_HOME");
  if (home.isEmpty()) home = QDir::homePath() + QStringLiteral("/.local/share");
  dataDirs.prepend(home);
  for (const QString& dir : dataDirs) {
    QString icons = dir + QStringLiteral("/icons");
    if (!paths.contains(icons) && QDir(icons).exists()) paths << icons;
  }
  QIcon::setThemeSearchPaths(paths);
  auto installed = [&paths](const QString& theme) {
    for (const QString& path : paths) {
      if (QFile::exists(path + QLatin1Char('/') + theme + QStringLiteral("/index.theme")))
        return true;
    }
    return false;
  };
  const QString adwaita = QStringLiteral("Adwaita");
  if (!installed(adwaita)) return;
  if (QIcon::themeName().isEmpty()) {
    QIcon::setThemeName(adwaita);
  } else if (QIcon::fallbackThemeName().isEmpty() ||
             QIcon::fallbackThemeName() == QLatin1String("hicolor")) {
    QIcon::setFallbackThemeName(adwaita);
  }
}

QIcon FromTheme(const PictureSource& source) {
  PrepareIconTheme();
  for (const char* name : source.themeNames) {
    if (!name) break;
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    if (!icon.isNull()) return icon;
  }
  return {};
}

// The picture drawn into exactly 16 by 15 pixels, centred, aspect kept.
QIcon Fit(const QIcon& icon) {
  QPixmap canvas(kPictureSize);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  icon.paint(&painter, QRect(QPoint(0, 0), kPictureSize));
  painter.end();
  return QIcon(canvas);
}

QIcon MakePicture(int index) {
  const PictureSource& source = kPictureSources[static_cast<size_t>(index)];
  QIcon icon = FromTheme(source);
  if (icon.isNull() && QApplication::style())
    icon = QApplication::style()->standardIcon(source.standard);
  if (!icon.isNull()) {
    QIcon fitted = Fit(icon);
    QImage check = fitted.pixmap(kPictureSize).toImage();
    for (int y = 0; y < check.height(); ++y) {
      for (int x = 0; x < check.width(); ++x) {
        if (qAlpha(check.pixel(x, y)) != 0) return fitted;
      }
    }
  }
  // Nothing drawable anywhere: a coloured tile still tells the kinds apart.
  QPixmap tile(kPictureSize);
  tile.fill(Qt::transparent);
  QPainter painter(&tile);
  painter.setPen(QColor(0x40, 0x40, 0x40));
  painter.setBrush(QColor::fromRgba(source.colour));
  painter.drawRect(1, 1, kPictureSize.width() - 3, kPictureSize.height() - 3);
  painter.end();
  return QIcon(tile);
}

NodeId NodeOf(const QTreeWidgetItem* item) {
  return item ? static_cast<NodeId>(item->data(0, kNodeRole).toULongLong()) : kNoNode;
}

}  // namespace

QIcon TreePicture(int index) {
  if (index < 0 || index >= kPictureCount) index = kPictureFolder;
  static std::array<QIcon, kPictureCount> cache;
  if (cache[static_cast<size_t>(index)].isNull())
    cache[static_cast<size_t>(index)] = MakePicture(index);
  return cache[static_cast<size_t>(index)];
}

FolderTreeBinding::FolderTreeBinding(FolderTree& model, QTreeWidget* widget,
                                     std::function<void()> onNodeEvent)
    : QObject(widget), model_(model), widget_(widget), onNodeEvent_(std::move(onNodeEvent)) {
  widget->setIconSize(kPictureSize);
  // The double-click is the node event; it runs after the click's own expanding or
  // folding has reached the model, so the worker sees the state the user sees.
  connect(widget, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (onNodeEvent_) onNodeEvent_();
        },
        Qt::QueuedConnection);
  });
  connect(widget, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (!applying_) model_.setExpanded(NodeOf(item), true);
  });
  connect(widget, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    if (!applying_) model_.setExpanded(NodeOf(item), false);
  });
  connect(widget, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (!applying_) model_.select(NodeOf(current));
          });

  // Every change reaches the widget queued, in the order the model made them, also
  // those made on this thread. Subscribing before the snapshot is taken may replay
  // a change the snapshot already holds; applying a change twice is harmless.
  QPointer<FolderTreeBinding> guard = this;
  subscription_ = model_.subscribe([guard](const TreeChanged& change) {
    PostIfAlive(guard, [change](FolderTreeBinding* binding) { binding->apply(change); });
  });
  FolderTree::Snapshot snap = model_.snapshot();
  picturesShown_ = snap.picturesSet;
  for (const TreeNode& node : snap.nodes)
    addItem(node.id, node.parent, node.text, node.picture, node.value);
  for (const TreeNode& node : snap.nodes) {
    if (node.expanded) apply(TreeChanged{TreeChanged::Kind::kExpanded, node.id});
  }
  showSelection();
}

FolderTreeBinding::~FolderTreeBinding() {
  subscription_.reset();
}

QTreeWidgetItem* FolderTreeBinding::item(NodeId node) const {
  auto it = items_.find(node);
  return it == items_.end() ? nullptr : it->second;
}

void FolderTreeBinding::addItem(NodeId node, NodeId parent, const std::u16string& text, int picture,
                                NodeValue value) {
  if (!widget_ || items_.count(node)) return;
  QTreeWidgetItem* parentItem = nullptr;
  if (parent != kNoNode) {
    parentItem = item(parent);
    if (!parentItem) return;  // its parent went meanwhile; so did the node
  }
  std::u16string shown = CutAtTerminator(text);
  auto* item = new QTreeWidgetItem();
  item->setText(0, QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size())));
  item->setData(0, kNodeRole, QVariant::fromValue<qulonglong>(node));
  item->setData(0, kPictureRole, picture);
  item->setData(0, Qt::AccessibleDescriptionRole,
                value == kNodeFolder ? Ui("文件夹")
                : value == kNodeFile ? Ui("文件")
                                     : Ui("网盘"));
  if (picturesShown_) item->setIcon(0, TreePicture(picture));
  items_.emplace(node, item);
  QScopedValueRollback applying(applying_, true);
  if (parentItem) {
    parentItem->addChild(item);
  } else {
    widget_->addTopLevelItem(item);
  }
}

void FolderTreeBinding::forget(QTreeWidgetItem* item) {
  for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
  items_.erase(NodeOf(item));
}

void FolderTreeBinding::showSelection() {
  if (!widget_) return;
  QTreeWidgetItem* wanted = item(model_.selected());
  if (widget_->currentItem() == wanted && (!wanted || wanted->isSelected())) return;
  QScopedValueRollback applying(applying_, true);
  if (wanted) {
    widget_->setCurrentItem(wanted);
  } else {
    widget_->clearSelection();
    widget_->setCurrentItem(nullptr);
  }
}

void FolderTreeBinding::applyPictures() {
  picturesShown_ = true;
  for (auto& [node, item] : items_)
    item->setIcon(0, TreePicture(item->data(0, kPictureRole).toInt()));
}

void FolderTreeBinding::apply(const TreeChanged& change) {
  if (!widget_) return;
  switch (change.kind) {
    case TreeChanged::Kind::kNodeAdded:
      addItem(change.node, change.parent, change.text, change.picture, change.value);
      break;
    case TreeChanged::Kind::kChildrenRemoved: {
      QTreeWidgetItem* parent = item(change.node);
      if (!parent) break;
      // Qt would move the current item on its own while items go; the model says
      // where the selection is.
      {
        QScopedValueRollback applying(applying_, true);
        QSignalBlocker block(widget_.data());
        for (QTreeWidgetItem* child : parent->takeChildren()) {
          forget(child);
          delete child;
        }
      }
      showSelection();
      break;
    }
    case TreeChanged::Kind::kCleared: {
      {
        QScopedValueRollback applying(applying_, true);
        QSignalBlocker block(widget_.data());
        widget_->clear();
      }
      items_.clear();
      break;
    }
    case TreeChanged::Kind::kExpanded: {
      QTreeWidgetItem* target = item(change.node);
      if (!target) break;
      // The model's present state: a user gesture may have changed it since.
      std::optional<TreeNode> node = model_.node(change.node);
      bool expanded = node ? node->expanded : change.expanded;
      if (target->isExpanded() == expanded) break;
      QScopedValueRollback applying(applying_, true);
      target->setExpanded(expanded);
      break;
    }
    case TreeChanged::Kind::kPicturesSet:
      applyPictures();
      break;
    case TreeChanged::Kind::kSelection:
      showSelection();
      break;
  }
}

FolderTreeBinding* BindFolderTree(QWidget* window, FolderTree& model,
                                  std::function<void()> onNodeEvent) {
  auto* tree = window ? window->findChild<QTreeWidget*>(Ui("树型框1")) : nullptr;
  if (!tree) return nullptr;
  return new FolderTreeBinding(model, tree, std::move(onNodeEvent));
}

}  // namespace pansift
