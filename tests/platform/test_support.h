// Temporary folders and environment for the platform tests.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Sets (or with nothing, removes) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
private:
    const char* name_;
    std::optional<std::string> old_;
};

// Makes a fresh temporary folder the current folder for a scope.
class ScopedCurrentFolder {
public:
    ScopedCurrentFolder() : old_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~ScopedCurrentFolder() { QDir::setCurrent(old_); }
    QString path() const { return dir_.path(); }
    std::string str() const { return dir_.path().toStdString(); }
private:
    QTemporaryDir dir_;
    QString old_;
};

}  // namespace testsupport
