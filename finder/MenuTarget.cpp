#include "finder/MenuTarget.h"

void TMenuTarget::Aim(const AmplifierList& list)
{
    FAimed = true;
    FRecord = {};
    if (list.GetSelected(FRecord))
        FKey = FRecord.MacKey;
    else
        FKey.reset();
}

void TMenuTarget::Release()
{
    FAimed = false;
    FKey.reset();
}

TMenuTarget::Outcome TMenuTarget::Resolve(const AmplifierList& list, TTovrinData& record) const
{
    if (!FAimed)
        return list.GetSelected(record) ? Outcome::Found : Outcome::NoRow;
    if (!FKey)
        return Outcome::NoRow;
    const int row = list.Find(*FKey);
    if (row < 0)
        return Outcome::Vanished;
    record = list.Row(row);
    return Outcome::Found;
}

std::string AmplifierLabel(const TTovrinData& record)
{
    std::string label;
    for (const std::string* field : { &record.MacKey, &record.IP, &record.Name }) {
        if (field->empty())
            continue;
        if (!label.empty())
            label += ' ';
        label += *field;
    }
    return label;
}
