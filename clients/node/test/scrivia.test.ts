import * as assert from 'node:assert/strict';
import { test } from 'node:test';
import { listLocales, pickLocale, ScriviaSession, startScrivia } from '../src';
import { collect } from './support';

test('a run that cannot listen ends with its error, then end, status 1', async () => {
    const { events, exit } = await collect(startScrivia({ locale: 'en_US', env: { PULSE_SERVER: 'unix:/nonexistent/scrivia/native' } }));
    assert.deepEqual(events.map((e) => (e.type === 'error' ? e.code : e.type)), ['no-mic', 'end']);
    assert.deepEqual([exit.status, exit.signal], [1, null]);
});

test('listLocales reads the catalogue, and pickLocale chooses from it', async () => {
    const { locales, onDevice } = await listLocales();
    assert.ok(locales.includes('en-US'), `${locales}`);
    assert.ok(onDevice.every((id) => locales.includes(id)));
    const catalogue = ['de-DE', 'en-GB', 'en-US'];
    for (const [wanted, want] of [['en_US', 'en-US'], ['en-us', 'en-US'], ['en_AU', 'en-GB'], ['en', 'en-GB'], ['fr_FR', undefined]])
        assert.equal(pickLocale(wanted!, catalogue), want, wanted);
});

test('stop kills a child that does not stop within the bound', async () => {
    // sleep ignores the control channel, as a stuck scrivia would.
    const session = new ScriviaSession(['30'], { binary: 'sleep' });
    const started = Date.now();
    assert.deepEqual(await session.stop({ timeoutMs: 300 }), { status: null, signal: 'SIGKILL' });
    assert.ok(Date.now() - started < 3000);
});
