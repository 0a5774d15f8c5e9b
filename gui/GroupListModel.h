// The groups of the review as a Qt list, so that the results view only lays out and paints the
// rows on screen. Rows are read straight from the application model's review session.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QAbstractListModel>

#include <optional>

namespace vp::gui {

class GroupListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit GroupListModel(PhotoCleanupModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    /// Null for a row that is not there.
    const DuplicateGroup* group(int row) const;

    /// What a card's header says, worked out once per change of the model rather than at every
    /// frame: the keeper policy and the identical-copy count are not free.
    struct Header {
        QString title;
        QString keep;          ///< "Keep NAME — reason"
        std::string keeperPath;
    };
    const Header& header(int row) const;
    PhotoCleanupModel& model() const { return m_model; }

    /// Follows the application model: a new set of groups resets the list, new marks or locks
    /// only repaint it.
    void refresh();

private:
    PhotoCleanupModel& m_model;
    std::vector<std::string> m_shownIDs; // the group ids the rows stand for now
    mutable std::vector<std::optional<Header>> m_headers;
};

} // namespace vp::gui
