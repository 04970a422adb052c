#pragma once

#include "soap/TSoapNode.h"
#include "soap/TSoapValue.h"

#include <QByteArray>
#include <QHash>

// A SOAP 1.1 message read from its XML text: the first element of the Body (the operation, its
// Response element or a Fault) and the multi-reference values beside it. Reading refuses
// document type declarations (so no entity is ever expanded and nothing external is loaded),
// bounds the nesting depth and the number of elements, and raises ESoapFault("Client", ...)
// with a plain description for anything that is not a well-formed SOAP 1.1 envelope.
class TSoapMessage {
public:
    // Deepest nesting of elements accepted, counted from the Envelope.
    static constexpr int MaxDepth = 32;
    // Most elements accepted in one message.
    static constexpr int MaxElements = 100000;

    static TSoapMessage Parse(const QByteArray& xml);

    // The first element inside the Body.
    const TSoapNode& BodyElement() const { return body_; }
    bool IsFault() const;
    // Raises the fault as ESoapFault when the message is one; otherwise does nothing.
    void ThrowIfFault() const;

    // The node a multi-reference accessor points at (the node itself when it has no href).
    // An href to an unknown id raises a Client fault.
    const TSoapNode& Resolve(const TSoapNode& node) const;

    // The value of `node` read as `expected`; `what` names it in the fault text ("parameter
    // start"). Wrong or missing xsi:type and text that is not of the type raise Client faults.
    TSoapValue Decode(const TSoapNode& node, TSoapType expected, const QString& what) const;

    // The parameter accessor of `operation` called `name`, or, when no child has that name,
    // the child at `position` provided its name is none of `allNames`; nullptr when absent.
    static const TSoapNode* FindParameter(const TSoapNode& operation, const QString& name,
                                          int position, const QStringList& allNames);

private:
    TSoapNode body_;
    QHash<QString, TSoapNode> references_;
};
