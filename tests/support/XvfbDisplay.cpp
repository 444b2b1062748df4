#include "XvfbDisplay.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

XvfbDisplay::XvfbDisplay()
{
    int fds[2];
    if (pipe (fds) != 0)
    {
        error = "pipe failed";
        return;
    }

    const auto child = fork();
    if (child == 0)
    {
        close (fds[0]);

        // Die with the test, and never hold the test's output open.
        prctl (PR_SET_PDEATHSIG, SIGKILL);
        const auto devNull = open ("/dev/null", O_RDWR);
        dup2 (devNull, 0);
        dup2 (devNull, 1);
        dup2 (devNull, 2);

        const auto fd = std::to_string (fds[1]);
        execlp ("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                "-nolisten", "tcp", "-noreset", (char*) nullptr);
        _exit (127);
    }

    close (fds[1]);
    if (child < 0)
    {
        close (fds[0]);
        error = "fork failed";
        return;
    }

    // Xvfb writes the display number it picked, then a newline, once it accepts clients.
    std::string number;
    char c = 0;
    while (read (fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close (fds[0]);

    if (number.empty())
    {
        kill (child, SIGTERM);
        waitpid (child, nullptr, 0);
        error = "Xvfb did not report a display (is it installed?)";
        return;
    }

    pid = child;
    name = ":" + juce::String (number);
    setenv ("DISPLAY", name.toRawUTF8(), 1);
}

XvfbDisplay::~XvfbDisplay()
{
    if (pid > 0)
    {
        kill (pid, SIGTERM);
        waitpid (pid, nullptr, 0);
    }
}
