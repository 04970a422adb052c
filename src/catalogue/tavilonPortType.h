#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// An ordered sequence of texts of any length.
using ArrayOfstring = QStringList;

// The catalogue server's port type. Every call blocks the calling thread until the answer is
// in, without dispatching events; transport failures and SOAP faults are raised as errors.
class tavilonPortType {
public:
    virtual ~tavilonPortType() = default;

    // Adds a video (title and record lines); returns the server's text (the new id).
    virtual QString registervideo(const QString& title, const ArrayOfstring& links) = 0;
    // True when the server already knows the video of these record lines.
    virtual bool checkvideo(const ArrayOfstring& links) = 0;
    // Element 0: the total of matches; then at most `limit` catalogue entries from `start` on,
    // in the order `type_` (0 added recently, 1 most viewed, 2 top rated, 3 latest
    // productions, 4 alphabetically). Never empty: an answer without elements reads as {"0"}.
    virtual ArrayOfstring getvideos(qint64 start, qint64 limit, const QString& search,
                                    qint64 type_) = 0;
};

// A reference to the interface; the SOAP client object behind it lives as long as a reference.
using _di_tavilonPortType = std::shared_ptr<tavilonPortType>;
