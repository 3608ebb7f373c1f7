#pragma once

#include <QObject>
#include <QTimer>

namespace rava {

// A named wait of its own: armed, it fires once after its interval and is
// idle again. Every pause and time-out of the program is one of these, owned
// by the operation it moves on, so no operation can end another's wait.
// Arming an armed wait starts its countdown afresh; stop() cancels it and no
// late tick follows.
class OneShot : public QObject {
    Q_OBJECT
public:
    explicit OneShot(const QString& name, int intervalMs = 0, QObject* parent = nullptr);

    void setInterval(int ms) { timer_.setInterval(ms); }
    int interval() const { return timer_.interval(); }

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }

signals:
    void fired();

private:
    QTimer timer_;
};

} // namespace rava
