// A temporary current folder and program folder, platform doubles, and helpers that
// build skin controls the way the framework's factories do.
#pragma once

#include "platform/testing.h"
#include "platform/test_support.h"
#include "skins/SkinControls.h"

#include <QDialog>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <memory>

class SkinTest : public ::testing::Test {
protected:
    SkinTest() {
        doubles.system->program = program.path().toStdString() + "/openinvoice";
        QDir().mkpath(program.path() + "/skins");
    }

    // Puts a shipped skin (and its images) into the program's skins folder.
    void installShipped() {
        const QDir source(SKINS_SOURCE_DIR);
        for (const QString& name : source.entryList(QDir::Files))
            QFile::copy(source.filePath(name), program.path() + "/skins/" + name);
    }

    static framework::ActiveXCreateInfo info(int id, const std::string& idName, const std::string& caption,
                                             framework::PropertyMap props = {}) {
        framework::ActiveXCreateInfo i;
        i.id = id;
        i.idName = idName;
        props.emplace("Caption", caption);
        i.properties = std::move(props);
        return i;
    }

    static QColor pixel(QWidget* w, int x, int y) { return w->grab().toImage().pixelColor(x, y); }

    testsupport::ScopedCurrentFolder cwd;
    QTemporaryDir program;
    platform::testing::ScopedTestServices doubles;
};
