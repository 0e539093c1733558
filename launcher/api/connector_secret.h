// The connector secret, which keeps every program but this user's own away from the connector: each
// supervisor makes a new one, gives it to its connector (which then refuses requests without it) and
// publishes it for the windows of the same logon in a named mapping that only the same user can open.
// Nothing goes to disk or the registry; the secret vanishes with the supervisor.
#pragma once
#include <windows.h>
#include "api/connector_contract.h"

// The supervisor's side: a new secret from the system's cryptographic generator into secret
// (ConnectorSecretUnits), published under ConnectorSecretName. Returns the mapping, whose closing
// withdraws the secret, or null (nothing published) when no secret could be made or the name was taken.
HANDLE PublishNewConnectorSecret(wchar_t* secret);

// The window's side: the published secret into secret (ConnectorSecretUnits). Returns 0, with secret
// empty, when none is published or what is published is not a secret.
int ReadConnectorSecret(wchar_t* secret);

// Exactly ConnectorSecretChars lowercase hexadecimal digits.
int IsConnectorSecretText(const wchar_t* text);
