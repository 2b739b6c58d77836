#!/usr/bin/python3
"""Practice in the player window as a user does it, under Xvfb with the shared GUI driver.

    bench/practice-gui.py BUILD/bin/morvel SONG.mid [SHOTS_DIR]

1. resident memory before Play and after 10 s of silent playing (no sound card here);
2. "Loop measures" 3 to 4 typed "from" first, Loop ticked, Play: for 20 s the Measure field
   shows only 3 or 4;
3. Options > Apply: the loop fields keep 3 and 4 and the loop holds for 10 s more;
4. Space with the focus on the Loop check box pauses and plays (the box stays ticked);
5. a screenshot of the player window.
Prints one line per check and exits 1 when one fails.
"""
import os
import re
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'shared', 'tools', 'gui'))
import driver  # noqa: E402

PLAYER = '^MIDI Player$'


def rss_mb(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) / 1024.0
    return 0.0


def field(g, name):
    nodes = g.find(name=name, window=PLAYER, timeout=5)
    return nodes[0]


def type_into(g, name, text):
    g.click_node(field(g, name))
    g.key('ctrl+a')
    g.type_text(text, verify=False)
    g.key('Tab')
    time.sleep(0.3)


def measure_text(g):
    return field(g, 'Measure').text()


def hold_loop(g, seconds, allowed):
    seen = set()
    end = time.time() + seconds
    while time.time() < end:
        text = measure_text(g)
        seen.add(text.split(' of ')[0])
        time.sleep(0.4)
    return seen, seen <= allowed


def main():
    program, song = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shots = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp()
    home = tempfile.mkdtemp()
    env = {'LANG': 'C', 'XDG_CONFIG_HOME': home + '/config', 'XDG_STATE_HOME': home + '/state'}
    g = driver.Gui(state_file=os.path.join(home, 'driver-state.json'))
    failed = False
    g.start([program], env=env)
    try:
        g.wait_window('^Version:$', timeout=20)
        g.close_window('^Version:$')
        g.wait_window('^MORVEL', timeout=10)
        g.menu(['File', 'Open Midifile'])
        g.fill_file_dialog(song)
        time.sleep(1)
        tracks = [t for t in g.menu_items(['Tracks']) if 'Empty' not in t and 'E:' not in t]
        g.menu(['Tracks', tracks[0]])
        g.menu(['File', 'Midifile Player'])
        g.wait_window(PLAYER)
        time.sleep(2)
        pid = g.app_pid()
        before = rss_mb(pid)
        g.click_node(field(g, 'Play'))
        time.sleep(10)
        after = rss_mb(pid)
        ok = after - before <= 30
        failed |= not ok
        print('memory: %.1f MB before Play, %.1f MB after 10 s of silent play (+%.1f MB) %s'
              % (before, after, after - before, 'ok' if ok else 'FAILED'))
        g.click_node(field(g, 'Stop'))

        type_into(g, 'Loop from', '3')
        type_into(g, 'Loop to', '4')
        values = (field(g, 'Loop from').text(), field(g, 'Loop to').text())
        g.click_node(field(g, 'Loop'))
        g.click_node(field(g, 'Play'))
        seen, ok = hold_loop(g, 20, {'3', '4'})
        failed |= not ok
        print('loop 3-4 typed from first: fields %s, measures seen in 20 s: %s %s'
              % (values, sorted(seen), 'ok' if ok else 'FAILED'))

        g.activate_window('^MORVEL')
        g.menu(['Options', 'Options'])
        g.wait_window('^Options$')
        g.click_button('Apply', window='^Options$')
        time.sleep(1)
        if any(re.search('^Options$', w) for w in g.windows()):
            g.close_window('^Options$')
        values = (field(g, 'Loop from').text(), field(g, 'Loop to').text())
        g.activate_window(PLAYER)
        g.click_node(field(g, 'Play'))
        seen, ok = hold_loop(g, 10, {'3', '4'})
        ok = ok and values == ('3', '4')
        failed |= not ok
        print('after Options > Apply: fields %s, measures seen in 10 s: %s %s'
              % (values, sorted(seen), 'ok' if ok else 'FAILED'))
        # Space with the focus on a check box (the Loop box was clicked last): pause, play.
        g.click_node(field(g, 'Loop'))
        g.click_node(field(g, 'Loop'))
        g.key('space')
        paused, _ = hold_loop(g, 5, {'3', '4'})
        g.key('space')
        playing, _ = hold_loop(g, 5, {'3', '4'})
        ok = len(paused) == 1 and len(playing) == 2 and \
            'checked' in field(g, 'Loop').states
        failed |= not ok
        print('Space at the Loop box: measures while paused %s, after Space again %s %s'
              % (sorted(paused), sorted(playing), 'ok' if ok else 'FAILED'))
        shot = os.path.join(shots, 'player.png')
        g.screenshot(shot, window=PLAYER)
        print('screenshot:', shot)
    finally:
        g.stop()
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
