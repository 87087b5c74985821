import * as assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { startScrivia } from 'scrivia-client';
import { binary, collect, SoundServer } from './support';

const recording = '/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav';
const spoken = 'he was not an ill disposed young man'.split(' ');

let server: SoundServer;
before(() => (server = new SoundServer()));
after(() => server?.close());

test('two sessions share the microphone; a stop mid-speech still gives what was heard, as asked, then end and status 0', async () => {
    const stopFeed = server.feed(recording);
    const runs = await Promise.all(
        [0, 1].map(async () => {
            const session = startScrivia({ binary, locale: 'en_US', punctuation: false, env: { PULSE_SERVER: server.address } });
            const handled: string[] = [];
            session.on('final', (e) => handled.push(e.text));
            // Stopped at the first partial of two words, so text is still owed.
            const run = await collect(session, (e) => e.type === 'partial' && e.text.includes(' ') && void session.stop());
            return { ...run, handled };
        }),
    );
    stopFeed();
    for (const { events, exit, handled } of runs) {
        const types = events.map((e) => e.type).filter((type) => type !== 'level');
        const texts = events.flatMap((e) => (e.type === 'final' ? [e.text] : []));
        assert.ok(texts.length > 0, JSON.stringify(types));
        assert.deepEqual(handled, texts, 'the handler gets what the iterator gets');
        for (const text of texts) assert.match(text, /^[a-z ]+$/, 'plain words: no punctuation was asked for');
        const heard = texts.join(' ').split(' ');
        assert.ok(spoken.filter((word) => heard.includes(word)).length >= 2, `heard "${texts.join(' ')}"`);
        assert.deepEqual([types[0], types.at(-1), exit.status, exit.signal], ['ready', 'end', 0, null]);
    }
});
