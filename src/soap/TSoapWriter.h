#pragma once

#include "soap/TSoapValue.h"

#include <QByteArray>
#include <QString>

class ESoapFault;

// Writes SOAP 1.1 RPC/encoded messages in UTF-8: the operation (or its "...Response") element
// in the interface's namespace, one accessor per parameter typed with xsi:type, string arrays
// as SOAP-ENC:Array with their arrayType.
class TSoapWriter {
public:
    static QByteArray Request(const QString& interfaceNamespace, const QString& operation,
                              const TSoapParameters& parameters);
    // The answer of `operation`: its Response element with the single accessor "return".
    static QByteArray Response(const QString& interfaceNamespace, const QString& operation,
                               const TSoapValue& result);
    static QByteArray Fault(const ESoapFault& fault);
};
