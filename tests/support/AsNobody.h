#pragma once
// Access checks as an ordinary user would meet them, in tests that run as root.

#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

// Root passes every access check, and access(2) asks with the real ids: for
// the time of a check they become nobody's. The saved ids stay root's, to
// switch back.
class TAsNobody {
public:
    // another user than nobody where a test needs two
    explicit TAsNobody(bool active, const char* user = "nobody")
    {
        const passwd* nobody = active ? getpwnam(user) : nullptr;
        if (!nobody)
            return;
        FGroups.resize(std::max(0, getgroups(0, nullptr)));
        FGroups.resize(std::max(0, getgroups(FGroups.size(), FGroups.data())));
        FActive = getresgid(&FGid[0], &FGid[1], &FGid[2]) == 0 && setgroups(0, nullptr) == 0 && setresgid(nobody->pw_gid, nobody->pw_gid, 0) == 0
                  && setresuid(nobody->pw_uid, nobody->pw_uid, 0) == 0;
        QVERIFY(FActive);
    }
    ~TAsNobody()
    {
        if (!FActive)
            return;
        // uid first: only root may set the group ids and the group list
        if (setresuid(0, 0, 0) != 0 || setresgid(FGid[0], FGid[1], FGid[2]) != 0
            || setgroups(FGroups.size(), FGroups.data()) != 0)
            qFatal("cannot switch back to root");
    }

private:
    bool FActive = false;
    gid_t FGid[3] = {};
    std::vector<gid_t> FGroups;
};
