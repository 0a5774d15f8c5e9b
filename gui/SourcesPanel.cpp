#include "SourcesPanel.h"

#include "FileManager.h"
#include "Texts.h"

#include "engine/common/Text.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

struct ScopeEntry {
    Scope scope;
    const char* title;
    const char* unavailable; // why it is greyed, when it is
};

constexpr ScopeEntry scopeEntries[] = {
    {Scope::folders, "Folders", nullptr},
    {Scope::photosLibrary, "Photo library (Shotwell)", nullptr},
    {Scope::lightroom, "Lightroom Classic catalog", nullptr},
    {Scope::captureOne, "Capture One catalog", nullptr},
};

bool isCatalog(Scope scope) { return scope == Scope::lightroom || scope == Scope::captureOne; }

/// Where the library is and whether it can be read.
QString libraryText(const PhotoCleanupModel& model) {
    const auto& folder = model.libraryFolder();
    QString text = folder ? "Shotwell library in " + shownPath(model.host(), *folder) : QString("Shotwell library");
    switch (model.libraryAccess()) {
    case Access::granted: return text;
    case Access::notAsked: return text + "\nNot found there.";
    case Access::denied:
    case Access::restricted: return text + "\nVelmo Pristel may not read it.";
    }
    return text;
}

/// The catalog's name and what the last reading found in it.
QString catalogText(const std::optional<std::string>& url, std::optional<std::size_t> photos, std::size_t missing) {
    if (!url) return "No catalog chosen yet.";
    QString text = shown(lastPathComponent(*url));
    if (!photos) return text + "\nCould not be read.";
    text += "\n" + countText(static_cast<std::int64_t>(*photos), "photo", "photos");
    if (missing > 0) text += QString::fromUtf8(" · %1 missing").arg(missing);
    return text;
}

} // namespace

SourcesPanel::SourcesPanel(PhotoCleanupModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_scope(new QComboBox(this)), m_folders(new QListWidget(this)),
      m_add(new QPushButton("Add Folder…", this)), m_remove(new QPushButton("Remove", this)),
      m_protect(new QPushButton("Protect", this)), m_folderBox(new QWidget(this)), m_sourceBox(new QWidget(this)),
      m_sourceTitle(new QLabel(m_sourceBox)), m_sourceName(new QLabel(m_sourceBox)),
      m_chooseSource(new QPushButton(m_sourceBox)), m_openFolder(new QPushButton("Open Its Folder", m_sourceBox)),
      m_sourceNote(new QLabel(m_sourceBox)) {
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("Look in", this);
    emphasise(*title);
    layout->addWidget(title);
    for (const auto& entry : scopeEntries) {
        m_scope->addItem(entry.title, static_cast<int>(entry.scope));
        if (entry.unavailable) {
            auto* items = qobject_cast<QStandardItemModel*>(m_scope->model());
            QStandardItem* item = items->item(m_scope->count() - 1);
            item->setEnabled(false);
            item->setToolTip(entry.unavailable);
        }
    }
    m_scope->setAccessibleName("Source");
    layout->addWidget(m_scope);
    layout->addSpacing(8);

    auto* folderLayout = new QVBoxLayout(m_folderBox);
    folderLayout->setContentsMargins(0, 0, 0, 0);
    auto* foldersTitle = new QLabel("Folders", m_folderBox);
    emphasise(*foldersTitle);
    folderLayout->addWidget(foldersTitle);
    m_folders->setParent(m_folderBox);
    m_folders->setAccessibleName("Folders to check");
    m_folders->setWordWrap(true);
    m_folders->setSpacing(2);
    folderLayout->addWidget(m_folders, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    folderLayout->addLayout(buttons);
    m_protect->setCheckable(true);
    m_protect->setToolTip("Copies in a protected folder are never marked and are preferred as the copy to keep.");
    folderLayout->addWidget(m_protect);
    layout->addWidget(m_folderBox, 1);

    // A catalog or the photo library: what is chosen, how to choose another, what happens there.
    auto* sourceLayout = new QVBoxLayout(m_sourceBox);
    sourceLayout->setContentsMargins(0, 0, 0, 0);
    emphasise(*m_sourceTitle);
    sourceLayout->addWidget(m_sourceTitle);
    m_sourceName->setWordWrap(true);
    m_sourceName->setAccessibleName("Chosen source");
    sourceLayout->addWidget(m_sourceName);
    sourceLayout->addWidget(m_chooseSource);
    sourceLayout->addWidget(m_openFolder);
    m_sourceNote->setWordWrap(true);
    sourceLayout->addWidget(m_sourceNote);
    sourceLayout->addStretch(1);
    layout->addWidget(m_sourceBox, 1);
    connect(m_chooseSource, &QPushButton::clicked, this, &SourcesPanel::chooseSource);
    connect(m_openFolder, &QPushButton::clicked, this, [this] {
        if (const auto& folder = m_model.libraryFolder()) showInFileManager(*folder);
    });

    connect(m_add, &QPushButton::clicked, this, &SourcesPanel::chooseFolders);
    connect(m_remove, &QPushButton::clicked, this, [this] {
        if (const auto source = selectedSource()) m_model.remove(source->path);
    });
    connect(m_protect, &QPushButton::clicked, this, [this](bool checked) {
        if (const auto source = selectedSource()) m_model.setProtected(source->path, checked);
    });
    connect(m_folders, &QListWidget::currentRowChanged, this, [this] {
        const auto source = selectedSource();
        m_remove->setEnabled(source.has_value());
        m_protect->setEnabled(source.has_value());
        m_protect->setChecked(source && source->isProtected);
    });
    connect(m_scope, &QComboBox::activated, this, [this](int index) {
        m_model.setScope(static_cast<Scope>(m_scope->itemData(index).toInt()));
    });
    refresh();
}

std::optional<PhotoSource> SourcesPanel::selectedSource() const {
    const int row = m_folders->currentRow();
    const auto& sources = m_model.sources();
    if (row < 0 || row >= static_cast<int>(sources.size())) return std::nullopt;
    return sources[static_cast<std::size_t>(row)];
}

void SourcesPanel::chooseFolders() {
    QFileDialog dialog(this, "Choose folders to check.");
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(qtPath(m_model.host().homeFolder));
    if (dialog.exec() != QDialog::Accepted) return;
    std::vector<std::string> paths;
    for (const QString& chosen : dialog.selectedFiles()) paths.push_back(pathBytes(chosen));
    m_model.add(paths);
}

void SourcesPanel::chooseSource() {
    if (m_model.scope() == Scope::photosLibrary) {
        QFileDialog dialog(this, "Choose a Shotwell library (photo.db).");
        const auto& folder = m_model.libraryFolder();
        dialog.setDirectory(qtPath(folder ? *folder : m_model.host().homeFolder));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter("Shotwell libraries (photo.db);;All files (*)");
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            m_model.useShotwellLibrary(pathBytes(dialog.selectedFiles().front()));
        return;
    }
    const bool lightroom = m_model.scope() == Scope::lightroom;
    QFileDialog dialog(this, lightroom ? "Choose a Lightroom Classic catalog." : "Choose a Capture One catalog.");
    const auto& current = lightroom ? m_model.lightroomCatalogURL() : m_model.captureOneCatalogURL();
    const auto found = lightroom ? LightroomCatalog::defaultCatalogs() : CaptureOneCatalog::defaultCatalogs();
    const std::string start = current ? deletingLastPathComponent(*current)
                              : !found.empty() ? deletingLastPathComponent(found.front())
                                               : m_model.host().homeFolder + "/Pictures";
    dialog.setDirectory(qtPath(start));
    if (lightroom) {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter("Lightroom Classic catalogs (*.lrcat)");
    } else {
        // A Capture One catalog is a folder ending in .cocatalog.
        dialog.setFileMode(QFileDialog::Directory);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::string path = pathBytes(dialog.selectedFiles().front());
    if (lightroom) m_model.chooseLightroomCatalog(path);
    else m_model.chooseCaptureOneCatalog(path);
}

void SourcesPanel::refresh() {
    const int keepRow = m_folders->currentRow();
    m_folders->clear();
    for (const auto& source : m_model.sources()) {
        QString text = shown(lastPathComponent(source.path));
        QString detail = source.volumeName.empty() ? QString() : "On " + shown(source.volumeName);
        if (source.isExternal) detail += detail.isEmpty() ? "External drive" : QString::fromUtf8(" · external drive");
        if (source.isProtected) detail += detail.isEmpty() ? "Protected" : QString::fromUtf8(" · protected");
        if (!detail.isEmpty()) text += "\n" + detail;
        auto* item = new QListWidgetItem(text, m_folders);
        item->setToolTip(shownPath(m_model.host(), source.path));
        item->setIcon(style()->standardIcon(source.isExternal ? QStyle::SP_DriveHDIcon : QStyle::SP_DirIcon));
    }
    m_folders->setCurrentRow(std::min(keepRow, m_folders->count() - 1));
    const auto source = selectedSource();
    m_remove->setEnabled(source.has_value());
    m_protect->setEnabled(source.has_value());
    m_protect->setChecked(source && source->isProtected);
    const bool busy = m_model.phase() == Phase::executing;
    m_add->setEnabled(!busy);
    const Scope scope = m_model.scope();
    m_folderBox->setVisible(scope == Scope::folders);
    m_sourceBox->setVisible(scope != Scope::folders);
    m_chooseSource->setEnabled(!busy && m_model.phase() != Phase::scanning);
    m_chooseSource->setText(isCatalog(scope) ? "Choose Catalog…" : "Choose Library…");
    m_sourceTitle->setText(isCatalog(scope) ? "Catalog" : "Photo library");
    m_openFolder->setVisible(scope == Scope::photosLibrary && m_model.libraryFolder().has_value());
    m_sourceNote->setText(isCatalog(scope)
                              ? "Copies are only marked in the catalog, after a backup beside it; you delete them in "
                                "the catalog's own program, which must be closed meanwhile."
                              : QString::fromUtf8("Copies are only tagged “%1” in Shotwell, after a backup of its "
                                                  "database; you delete them there. Shotwell must be closed meanwhile.")
                                    .arg(QString::fromUtf8(ReviewAlbum::name.data(), static_cast<qsizetype>(ReviewAlbum::name.size()))));
    if (scope == Scope::photosLibrary) {
        m_sourceName->setText(libraryText(m_model));
    } else if (scope == Scope::lightroom) {
        const auto& catalog = m_model.lightroomCatalog();
        m_sourceName->setText(catalogText(m_model.lightroomCatalogURL(),
                                           catalog ? std::optional(catalog->photos.size()) : std::nullopt,
                                           catalog ? catalog->missing().size() : 0));
    } else if (scope == Scope::captureOne) {
        const auto& catalog = m_model.captureOneCatalog();
        m_sourceName->setText(catalogText(m_model.captureOneCatalogURL(),
                                           catalog ? std::optional(catalog->photos.size()) : std::nullopt,
                                           catalog ? catalog->missing().size() : 0));
    }
    for (int index = 0; index < m_scope->count(); ++index)
        if (static_cast<Scope>(m_scope->itemData(index).toInt()) == m_model.scope()) m_scope->setCurrentIndex(index);
}

} // namespace vp::gui
