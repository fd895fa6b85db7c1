#pragma once

#include <wx/defs.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// The parts of the operator dialogue that need no window: button labels and
// answers of message boxes, the upper-case file patterns of the file chooser,
// and the two files through which the end-to-end tests script and watch the
// boxes. Any thread.
namespace frm {
namespace ui {

/// The buttons a box of this style shows (wxID_YES, wxID_NO, wxID_OK,
/// wxID_CANCEL), in the order they appear; OK alone when the style names none.
std::vector<int> boxAnswers(long style);
/// The answer that ends a box without a decision: No where the box has it,
/// else Cancel, else OK.
int cancelAnswer(long style);

/// "Да", "Нет", "OK", "Отмена"; empty for any other id.
std::wstring answerLabel(int answer);
/// The id of a button label; wxID_NONE when it is none of the four.
int answerOfLabel(const std::wstring& label);

/// Each "*.ext" pattern of a wx wildcard ("MP3 (*.mp3)|*.mp3") gains its
/// upper-case form ("*.mp3;*.MP3") unless it is there already: GTK compares
/// patterns with case. Descriptions are left alone.
std::wstring withUpperCasePatterns(const std::wstring& wildcard);

/// Breaks a box's text into lines no wider than `maxWidth` as `width`
/// measures them: at blanks where it can, inside a long word (a path) after
/// a '/' or '\\', and between any two characters only where nothing else
/// fits. Existing line breaks stay; no character is lost or added but line
/// breaks (a blank at a break is dropped).
std::wstring wrapText(const std::wstring& text, int maxWidth,
                      const std::function<int(const std::wstring&)>& width);

/// Caption of a box -> label of the button that answers it.
using ScriptedAnswers = std::map<std::wstring, std::wstring>;

/// Reads the answers file: UTF-8 lines "caption<TAB>button label" (a byte
/// order mark and CR LF line ends are accepted, lines without a tab are
/// ignored). The first line of a caption counts.
ScriptedAnswers parseAnswers(const std::string& utf8);

/// One line of the boxes file, UTF-8 with its line feed:
/// "caption<TAB>text<TAB>answer label", line breaks of the text written as
/// "\n" and tabs as "\t" so that the line keeps its three fields.
std::string boxLine(const std::wstring& caption, const std::wstring& text, const std::wstring& answer);

}  // namespace ui
}  // namespace frm
