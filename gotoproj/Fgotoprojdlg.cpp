#include "gotoproj/Fgotoprojdlg.h"

TFormGotoProj* FormGotoProj = nullptr;

TFormGotoProj::TFormGotoProj(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Projekt suchen"));
}

TFormGotoProj::~TFormGotoProj() = default;

std::string TFormGotoProj::GetSelectedPath() const
{
    return {};
}
