#include "GroupListModel.h"

#include <algorithm>

#include "GroupDelegate.h"
#include "Texts.h"

#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"

namespace vp::gui {

GroupListModel::GroupListModel(PhotoCleanupModel& model, QObject* parent) : QAbstractListModel(parent), m_model(model) {
    refresh();
}

int GroupListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shownIDs.size());
}

const DuplicateGroup* GroupListModel::group(int row) const {
    const auto& session = m_model.session();
    if (!session || row < 0 || row >= static_cast<int>(session->groups.size())) return nullptr;
    return &session->groups[static_cast<std::size_t>(row)];
}

QVariant GroupListModel::data(const QModelIndex& index, int role) const {
    const DuplicateGroup* shownGroup = group(index.row());
    if (!shownGroup) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return countText(static_cast<std::int64_t>(shownGroup->members.size()), "picture", "pictures");
    return {};
}

const GroupListModel::Header& GroupListModel::header(int row) const {
    static const Header none;
    const DuplicateGroup* shown = group(row);
    if (!shown) return none;
    auto& slot = m_headers[static_cast<std::size_t>(row)];
    if (!slot) {
        const auto suggestion = KeeperPolicy::suggestion(*shown, m_model.session()->context());
        const auto keeper = std::find_if(shown->members.begin(), shown->members.end(),
                                         [&](const PhotoAsset& member) { return member.path == suggestion.keeperID; });
        const std::string keeperName = keeper != shown->members.end() ? keeper->name() : lastPathComponent(suggestion.keeperID);
        slot = Header{groupTitle(m_model, *shown),
                      "Keep " + vp::gui::shown(keeperName) + QString::fromUtf8(" — ") +
                          vp::gui::shown(suggestion.reason),
                      suggestion.keeperID};
    }
    return *slot;
}

void GroupListModel::refresh() {
    m_headers.assign(m_model.session() ? m_model.session()->groups.size() : 0, std::nullopt);
    std::vector<std::string> ids;
    if (const auto& session = m_model.session()) {
        ids.reserve(session->groups.size());
        for (const auto& shownGroup : session->groups) ids.push_back(shownGroup.id + "#" + std::to_string(shownGroup.members.size()));
    }
    if (ids != m_shownIDs) {
        beginResetModel();
        m_shownIDs = std::move(ids);
        endResetModel();
    } else if (!m_shownIDs.empty()) {
        Q_EMIT dataChanged(index(0), index(static_cast<int>(m_shownIDs.size()) - 1));
    }
}

} // namespace vp::gui
