#include "FileManager.h"

#include "engine/common/Text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>

namespace vp::gui {

QUrl fileUrl(const std::string& path) {
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

bool showInFileManager(const std::string& path) {
    const QString service = "org.freedesktop.FileManager1";
    auto bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service)) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, "/org/freedesktop/FileManager1", service, "ShowItems");
        call << QStringList{QString::fromLatin1(fileUrl(path).toEncoded())} << QString();
        if (bus.call(call, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage) return true;
    }
    return QDesktopServices::openUrl(fileUrl(deletingLastPathComponent(path)));
}

} // namespace vp::gui
