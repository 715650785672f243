#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One program window per user and desktop session. The first instance listens
// on a local socket; a later one tells it to come forward and then ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name: the socket's name; DefaultName() for the real program.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (and now listens); false
    // when another one runs and has been asked to show itself.
    bool Claim();

    // Per user and per configuration folder, so separate homes stay apart.
    static QString DefaultName();

signals:
    // Another start of the program asked this instance to show its window.
    void ActivationRequested();

private:
    bool AskRunningInstance() const;

    QString name_;
    QLocalServer* server_ = nullptr;
};
