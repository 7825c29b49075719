#pragma once

#include <QString>

namespace quillo {

// Desktop notifications through the freedesktop service on the session bus. Where
// there is no bus or no service, a notification goes nowhere, silently: the panel
// itself still shows every figure.
class Notifier {
  public:
    void notify(const QString& summary, const QString& body, bool critical) const;
};

}  // namespace quillo
