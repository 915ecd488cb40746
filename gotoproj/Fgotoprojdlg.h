#pragma once
// The project finder: type a project or serial number, see the matching folders on the shared
// drive, act on one of them or pick it with OK.

#include <QDialog>

#include <string>

class TFormGotoProj : public QDialog {
    Q_OBJECT

public:
    explicit TFormGotoProj(QWidget* parent = nullptr);
    ~TFormGotoProj() override;

    // The selected entry's text unchanged (a folder path ending in "/"), empty when none.
    std::string GetSelectedPath() const;
};

extern TFormGotoProj* FormGotoProj;
