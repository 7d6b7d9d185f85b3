#pragma once

#include <QString>

// A symbolic link with a stable name to a device whose name changes from run
// to run. Removed again on remove() or destruction, but only while it still
// points where we put it.
class DeviceLink
{
public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Replaces a symbolic link left at `linkPath` by an earlier run; refuses
    // to replace anything else. False with a reason in `error` on failure.
    bool create(const QString &linkPath, const QString &target, QString *error);
    void remove();

private:
    QString link;
    QString target;
};
