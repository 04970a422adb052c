#pragma once

#include "soap/TSoapValue.h"

#include <QString>

// A SOAP client object: posts RPC/encoded calls of one interface to one address and reads
// their answers. Each call blocks its thread until the answer is in.
class TSoapClient {
public:
    // The address calls are posted to.
    QString URL;
    // The interface's XML namespace.
    QString Namespace;
    // The SOAPAction of a call; "%operationName%" is replaced by the operation's name.
    QString SoapActionTemplate;

    // Calls `operation` and returns its "return" value read as `resultType`. A SOAP fault is
    // raised as ESoapFault; an answer that is neither the operation's Response nor a fault, and
    // every transport failure, as Exception. A missing array result reads as an empty array.
    TSoapValue Invoke(const QString& operation, const TSoapParameters& parameters,
                      TSoapType resultType) const;

    // The SOAPAction of `operation` made from the template.
    QString SoapActionOf(const QString& operation) const;
};
