#pragma once
// The windows' side of placeholder expansion: the one-line query and the error box.

#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "text/Strtools.h"

#include <QObject>

class TPlaceholderQuery : public TPlaceholderPrompter {
public:
    explicit TPlaceholderQuery(QWidget* parent)
        : FParent(parent)
    {
    }
    bool Query(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        return UserDialogs::InputQuery(FParent, ToQt(caption), ToQt(prompt), value, 255);
    }
    void ShowError(const std::string& text) override
    {
        UserDialogs::Error(FParent, QObject::tr("Error"), ToQt(text));
    }

private:
    QWidget* FParent;
};
