#!/usr/bin/env python3
"""Question: what share of the log sender's processor time does the window's thread take?

The program runs once on a tree that bench_sendlogfiles_run built (its --work folder holds
sendlogs-<corpus>-<size>), with the same environment: a virtual X display when DISPLAY is set,
else QT_QPA_PLATFORM=offscreen. Every thread's user and system time is read from
/proc/<pid>/task while it runs; the main thread is the window's. Target: at most 3% on 100,000
small files or more.

    python3 bench/bench_window_thread.py /tmp/lead-bench/sendlogs-small-100000 [program]
"""

import glob
import os
import subprocess
import sys
import time


def main():
    base = sys.argv[1].rstrip('/')
    program = sys.argv[2] if len(sys.argv) > 2 else 'build/src/sendLogFiles/sendLogFiles'
    logs = base + '/home/.local/share/Syncarium/logs'
    # What a run leaves: the copies in the log folder and the archive on the desktop.
    subprocess.run(['rm', '-rf', logs + '/logs_backup', logs + '/Syncarium2DataBase.err'],
                   check=True)
    for placed in glob.glob(base + '/home/Desktop/*'):
        os.remove(placed)
    env = dict(os.environ)
    env.update(HOME=base + '/home', XDG_CONFIG_HOME=base + '/home/.config',
               XDG_DATA_HOME=base + '/home/.local/share', XDG_RUNTIME_DIR=base + '/runtime',
               PATH=base + '/bin:' + env['PATH'],
               DBUS_SESSION_BUS_ADDRESS='unix:path=' + base + '/no-session-bus')
    if 'DISPLAY' not in env:
        env['QT_QPA_PLATFORM'] = 'offscreen'
    tick = os.sysconf('SC_CLK_TCK')
    started = time.monotonic()
    child = subprocess.Popen([os.path.abspath(program)], cwd=base + '/work', env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A thread's last reading stands for it once it has ended.
    seconds = {}
    while child.poll() is None:
        for task in glob.glob('/proc/%d/task/*' % child.pid):
            try:
                with open(task + '/stat') as stat:
                    fields = stat.read().rsplit(')', 1)[1].split()
                seconds[int(os.path.basename(task))] = (int(fields[11]) + int(fields[12])) / tick
            except (OSError, IndexError, ValueError):
                pass
        time.sleep(0.02)
    wall = time.monotonic() - started
    total = sum(seconds.values())
    window = seconds.get(child.pid, 0.0)
    print('run %.2f s (exit %d), threads %.2f CPU-s, window thread %.2f CPU-s: %.1f%%'
          ' (target <= 3%%)' % (wall, child.returncode, total, window,
                                100 * window / total if total else 0))
    print('reproduce: python3 ' + ' '.join(sys.argv))


if __name__ == '__main__':
    main()
