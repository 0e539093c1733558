// The connector secret (see connector_secret.h): made and published by the supervisor, read by the
// window's request worker and its link to the connector's page.
#include "api/connector_secret.h"
#include <bcrypt.h>
#include <string.h>
#include "named_objects.h"

enum { SecretBytes = ConnectorSecretChars / 2, MappingBytes = ConnectorSecretUnits * sizeof(wchar_t) };

int IsConnectorSecretText(const wchar_t* text)
{
    int n = 0;
    for (; n < ConnectorSecretChars; ++n)
        if (!((text[n] >= L'0' && text[n] <= L'9') || (text[n] >= L'a' && text[n] <= L'f')))
            return 0;
    return text[n] == 0;
}

static int MakeSecret(wchar_t* secret)
{
    unsigned char random[SecretBytes];
    if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return 0;
    static const wchar_t Digits[] = L"0123456789abcdef";
    for (int i = 0; i < SecretBytes; ++i) {
        secret[2 * i] = Digits[random[i] >> 4];
        secret[2 * i + 1] = Digits[random[i] & 15];
    }
    secret[ConnectorSecretChars] = 0;
    SecureZeroMemory(random, sizeof random);
    return 1;
}

// A security descriptor whose only entry lets this process's user read the mapping: no other account can
// open it at all, and the user's programs open it for reading (the creating handle alone writes).
struct UserOnlyRead {
    SECURITY_DESCRIPTOR descriptor;
    alignas(8) unsigned char acl[128];
    alignas(8) unsigned char user[128];  // TOKEN_USER and the SID after it
};

static int BuildUserOnlyRead(UserOnlyRead* sd)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    DWORD needed = 0;
    BOOL got = GetTokenInformation(token, TokenUser, sd->user, sizeof sd->user, &needed);
    CloseHandle(token);
    if (!got)
        return 0;
    PSID sid = ((TOKEN_USER*)sd->user)->User.Sid;
    ACL* acl = (ACL*)sd->acl;
    return InitializeAcl(acl, sizeof sd->acl, ACL_REVISION) &&
           AddAccessAllowedAce(acl, ACL_REVISION, FILE_MAP_READ, sid) &&
           InitializeSecurityDescriptor(&sd->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&sd->descriptor, TRUE, acl, FALSE);
}

HANDLE PublishNewConnectorSecret(wchar_t* secret)
{
    secret[0] = 0;
    UserOnlyRead sd;
    if (!MakeSecret(secret) || !BuildUserOnlyRead(&sd)) {
        SecureZeroMemory(secret, ConnectorSecretUnits * sizeof(wchar_t));
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &sd.descriptor, FALSE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, MappingBytes,
                                        ConnectorSecretName);
    // A mapping of that name that is not ours is someone else's: its content is not this supervisor's
    // secret, so no connector is started with one that the windows would not find.
    if (mapping && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        mapping = nullptr;
    }
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, MappingBytes) : nullptr;
    if (!view) {
        if (mapping)
            CloseHandle(mapping);
        SecureZeroMemory(secret, ConnectorSecretUnits * sizeof(wchar_t));
        return nullptr;
    }
    memcpy(view, secret, MappingBytes);
    UnmapViewOfFile(view);
    return mapping;
}

int ReadConnectorSecret(wchar_t* secret)
{
    secret[0] = 0;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, ConnectorSecretName);
    if (!mapping)
        return 0;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, MappingBytes);
    if (view) {
        memcpy(secret, view, MappingBytes);
        secret[ConnectorSecretChars] = 0;
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    if (!IsConnectorSecretText(secret)) {
        secret[0] = 0;
        return 0;
    }
    return 1;
}
