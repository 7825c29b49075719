#include "desktop/Notifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

namespace quillo {

void Notifier::notify(const QString& summary, const QString& body, bool critical) const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    // Urgency is a byte: 1 normal, 2 critical (a critical one stays until dismissed).
    const QVariantMap hints{{"urgency", QVariant::fromValue(uchar(critical ? 2 : 1))},
                            {"desktop-entry", QString("io.quillo.Quillo")}};
    call << QString("Quillo") << uint(0) << QString("io.quillo.Quillo") << summary << body
         << QStringList() << hints << int(-1);
    // No answer is awaited: a missing service must not hold up the panel.
    bus.asyncCall(call);
}

}  // namespace quillo
