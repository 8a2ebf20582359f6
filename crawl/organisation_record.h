#pragma once

#include <QString>
#include <QStringList>

// The thirteen values of one organisation card, declared in the column order of
// the data file. A plain value, any thread.
struct OrganisationRecord {
    QString Country;
    QString City;
    QString CityUrl;
    QString Rubric;
    QString Subrubric;
    QString SubrubricUrl;
    QString Name;
    QString Address;
    QString Phones;
    QString OpeningHours;
    QString Site;
    QString Description;
    QString CardUrl;

    // The values in column order.
    QStringList Values() const {
        return {Country, City,   CityUrl,      Rubric, Subrubric,   SubrubricUrl, Name,
                Address, Phones, OpeningHours, Site,   Description, CardUrl};
    }
};
