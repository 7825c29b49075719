// A notification service for tests: owns org.freedesktop.Notifications on the session
// bus it is given and appends every notification it receives, as a JSON line, to the
// file named by its argument. It writes FILE.ready once it owns the name.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    explicit Recorder(QString path) : path_(std::move(path)) {}

  public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        QFile file(path_);
        if (file.open(QIODevice::Append)) {
            const QJsonObject line{{"app", app},
                                   {"icon", icon},
                                   {"summary", summary},
                                   {"body", body},
                                   {"urgency", hints.value("urgency").toInt()}};
            file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + "\n");
        }
        return ++count_;
    }
    QStringList GetCapabilities() { return {"body"}; }

  private:
    QString path_;
    uint count_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    Recorder recorder(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/Notifications", &recorder,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        return 1;
    }
    QFile ready(QString::fromLocal8Bit(argv[1]) + ".ready");
    ready.open(QIODevice::WriteOnly);
    ready.close();
    return QCoreApplication::exec();
}

#include "NotificationRecorder.moc"
