#include "window/form1_logic.h"

#include "common/texts.h"
#include "window/selection.h"
#include "window/texts.h"

#include <exception>

namespace tarnis {

Form1Logic::Form1Logic(FileList& fileList, OpenFileDialog& dialog, ErrorMessageBox& messageBox)
    : fileList_(fileList), dialog_(dialog), messageBox_(messageBox)
{
}

void Form1Logic::load() { fileList_.clear(); }

void Form1Logic::selectFiles()
{
    fileList_.clear();
    std::string answer;
    // Whatever goes wrong from here on, a cancel above all, ends the selection without a word:
    // the list stays empty and the previous folder and count stay as they were. Only an answer
    // cut short is said, since the user would otherwise take the choice for made.
    try {
        answer = dialog_.showOpen();
    } catch (const TooManyFilesChosen&) {
        messageBox_.show(texts::kWindowTitle, texts::kTooManyFiles);
        return;
    } catch (...) {
        return;
    }
    try {
        parseSelection(answer, fileList_, selection_);
    } catch (...) {
    }
}

void Form1Logic::runBatch()
{
    try {
        tarnis::runBatch(fileList_, selection_, runValues_, fileSlot_);
    } catch (const Error& error) {
        messageBox_.show(texts::kWindowTitle, describe(error, Language::Japanese));
    } catch (const std::exception& error) {
        messageBox_.show(texts::kWindowTitle, error.what());
    }
}

void Form1Logic::closeApplication() { fileSlot_.close(); }

void Form1Logic::queueFiles(const std::vector<std::string>& paths, const std::string& currentFolder)
{
    fileList_.clear();
    try {
        parseSelection(answerFor(fullPaths(paths, currentFolder)), fileList_, selection_);
    } catch (...) {
    }
}

} // namespace tarnis
