#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringView>

// The files the tool keeps and the documents it exchanges say what they are, so that a file
// of another kind or version is never read as one: a JSON object whose "format" names the
// kind and whose "version" is a whole number of 1 or more. Pure, any thread.

// What a document's bytes were found to be. Each reader puts the kind in its own words.
struct VersionedDocument final {
    // Document: of the format, of a version up to the newest one read here. Unparsed: not
    // JSON within the bounded reader's bounds. Foreign: JSON, but not an object of the
    // format. NoVersion: of the format, with no whole number of 1 or more as its version.
    // Newer: of a version after the newest one read here: to be left alone, neither read nor
    // replaced.
    enum class Kind { Document, Unparsed, Foreign, NoVersion, Newer };
    Kind kind = Kind::Unparsed;
    QJsonObject root; // Document
    qint64 version = 0; // Document, Newer
    QString problem; // Unparsed: why, as the bounded reader says it
};
VersionedDocument readVersionedDocument(const QByteArray &bytes, QStringView format, int newest);

// The start of such a document: its "format" and "version".
QJsonObject versionedDocumentHead(QStringView format, int version);
