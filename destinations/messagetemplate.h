#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// The user's templates of a message: literal text with variables in braces ("{event}: {name}").
// A brace that does not start a name of letters and a closing brace ("{", "{\"a\": 1}") is
// text. Pure, any thread.

// The variables of one change, in every template.
QList<QStringView> changeVariables();
// Those of a webhook's body: a change's, and {changes}, {title} and {message}.
QList<QStringView> webhookVariables();

// The first variable in `text` that is not one of `known`, without its braces.
std::optional<QString> unknownVariable(QStringView text, const QList<QStringView> &known);

// The text with each variable replaced by what `value` gives for its name.
QString expandTemplate(QStringView text, const std::function<QString(QStringView name)> &value);
