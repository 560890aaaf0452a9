#pragma once

#include "datapath/TextStyle.h"

#include <QString>

class TextTarget;

// How the terminal edits what it shows for the control characters received
// and typed, shared by the session and its tests.

// Units the last character of `text` takes: 2 for a surrogate pair.
int lastCharWidth(const QString& text);

// Backspaces, then line feeds and carriage returns: a backspace erases the
// chunk's own previous character, one with nothing before it in the chunk
// sets `leadingBackspace` instead; a CR becomes CR LF and a bare LF goes.
// Each character keeps its style.
StyledText editForControl(const StyledText& data, bool& leadingBackspace);

// Puts `stamp`, plain, before every line the text begins.
StyledText insertStamps(const StyledText& edited, const QString& stamp, bool& atLineStart);

// Drops whole trim amounts from the front until the content is within the
// terminal's character limit.
void boundContent(TextTarget& term);

// Code point of a key code as text; empty for codes that are no character.
QString keyText(int keyCode);
// The key's upper-case code where it has one of a single character.
int upperKey(int keyCode);
