#!/usr/bin/env python3
"""web_e2e.py APP_DIR: the web feed as a site meets it. The real veltrane (offscreen), with a token, fed by
indicator-sim over a pty; its endpoints through urllib; then the sample page it serves, in headless Chromium
driven by chromedriver over WebDriver: it shows a change of the simulator's weight within two seconds, and a
serving made while it is open appears in its list, without fetching anything from elsewhere."""
import json, os, shutil, signal, socket, subprocess, sys, tempfile, time, urllib.error, urllib.request

APP, WORK, TOKEN = sys.argv[1], tempfile.mkdtemp(prefix='veltrane-web.'), 'e2e-T0ken'
PROGRAM, children = f'{WORK}/program', []


def fail(why):
    log = f'{WORK}/veltrane.log'
    sys.exit(f'FAIL: {why}\n' + (open(log).read()[-3000:] if os.path.exists(log) else ''))


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(seconds, check):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if check():
                return True
        except OSError:
            pass
        time.sleep(0.05)
    return False


def start(name, *command, **options):
    log = open(f'{WORK}/{name}.log', 'w')
    children.append(subprocess.Popen(command, stdout=log, stderr=log, start_new_session=True, **options))


def sim(command):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(f'{WORK}/sim.ctl')
        s.sendall(command.encode() + b'\n')
        s.recv(200).startswith(b'ok') or fail(f'indicator-sim: {command}')


def http(url, body=None, method='GET', headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, body, headers or {}, method=method), timeout=60) as a:
            return a.status, a.headers, a.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def main():
    os.makedirs(f'{WORK}/run', mode=0o700)
    os.makedirs(PROGRAM)
    for name in ('veltrane', 'veltrane-sample.html'):
        shutil.copy(f'{APP}/{name}', PROGRAM)
    subprocess.run([f'{APP}/veltrane-mkdb', '--set', 'pw=web', '--set', 'Startauto=on', '--set', 'AutosaveonStableWeight=on',
                    '--comport', f'1={WORK}/indicator.tty', PROGRAM], check=True, stdout=subprocess.DEVNULL)
    port = free_port()
    subprocess.run(['sqlcipher', f'{PROGRAM}/scale.mdb', f"PRAGMA key='qd584'; update feeds set httpfeed = -1, "
                    f"httpport = {port}, httptoken = '{TOKEN}';"], check=True, stdout=subprocess.DEVNULL)
    start('sim', f'{APP}/indicator-sim', '--link', f'{WORK}/indicator.tty', '--rate', '10', '--control',
          f'{WORK}/sim.ctl', '--no-stdin')
    wait_for(10, lambda: os.path.exists(f'{WORK}/sim.ctl')) or fail('indicator-sim did not start')
    sim('weight 0')
    start('veltrane', './veltrane', cwd=PROGRAM, env=dict(os.environ, QT_QPA_PLATFORM='offscreen',
                                                          XDG_RUNTIME_DIR=f'{WORK}/run'))
    feed = f'http://127.0.0.1:{port}'
    weight = lambda: json.loads(http(f'{feed}/api/weight', headers={'Authorization': f'Bearer {TOKEN}'})[2])
    wait_for(30, lambda: weight()['weight'] == '0') or fail('the feed does not show the weight 0')
    now = weight()
    now['port'] == 'on' and now['time'][10] == 'T' or fail(f'/api/weight: {now}')
    status, headers, _ = http(f'{feed}/api/weighments?to=2026-02-30&token={TOKEN}')
    status == 400 and 'Access-Control-Allow-Origin' not in headers or fail(f'a bad date: {status} {headers}')
    for target in ('/api/weight', '/?token=wrong'):
        http(feed + target)[0] == 401 or fail(f'{target} was not refused')
    print(f'ok: the endpoints of the real program, with its token, on port {port}')

    driver = f'http://127.0.0.1:{free_port()}'
    start('chromedriver', 'chromedriver', f'--port={driver.rsplit(":", 1)[1]}')
    wait_for(20, lambda: http(f'{driver}/status')[0] == 200) or fail('chromedriver did not start')

    def webdriver(method, path, body):
        status, _, answer = http(driver + path, json.dumps(body).encode(), method, {'Content-Type': 'application/json'})
        status == 200 or fail(f'WebDriver {path}: {answer[:500]}')
        return json.loads(answer)['value']

    binary = '/usr/lib/chromium/chromium' if os.path.exists('/usr/lib/chromium/chromium') else shutil.which('chromium')
    args = ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-sync',
            '--disable-background-networking', '--disable-component-update', '--disable-dev-shm-usage',
            f'--user-data-dir={WORK}/profile']
    session = webdriver('POST', '/session', {'capabilities': {'alwaysMatch': {
        'goog:chromeOptions': {'binary': binary, 'args': args}}}})['sessionId']
    run = lambda script: webdriver('POST', f'/session/{session}/execute/sync', {'script': script, 'args': []})
    shown = lambda: run("return document.getElementById('weight').textContent")
    listed = lambda: run("return [...document.querySelectorAll('#servings tr')].map(r => r.innerText)")
    try:
        webdriver('POST', f'/session/{session}/url', {'url': f'{feed}/?token={TOKEN}'})
        wait_for(10, lambda: shown() == '0') or fail(f'the page shows "{shown()}", not 0')
        sim('weight 7777')
        began = time.monotonic()
        wait_for(2, lambda: shown() == '7777') or fail(f'the page showed "{shown()}" 2 s after the change')
        print(f'ok: the page showed the new weight {1000 * (time.monotonic() - began):.0f} ms after the change')
        wait_for(60, lambda: any('7777' in row for row in listed())) or fail(f'no serving listed: {listed()}')
        run("return document.getElementById('port').textContent") == 'port on' or fail('the port is not on')
        foreign = run(f"return performance.getEntriesByType('resource').map(e => e.name)"
                      f".filter(n => !n.startsWith('{feed}/'))")
        foreign == [] or fail(f'the page fetched {foreign}')
        print(f'ok: the serving appeared in the page\'s list: {listed()[0]!r}')
    finally:
        http(f'{driver}/session/{session}', method='DELETE')
    print('PASS')


try:
    main()
finally:
    for child in reversed(children):
        try:
            os.killpg(child.pid, signal.SIGTERM)
            child.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
        except OSError:
            pass
    shutil.rmtree(WORK, ignore_errors=True)
