// The finals of a run joined into the text the person dictated, ready to
// paste: what a host that inserts text needs, and what the live view shows.

import type { FinalEvent } from './events.js';

// A closing full stop that also ends "U.S." belongs to the abbreviation.
const dottedAbbreviation = /(?:\p{L}\.){2}$/u;

/**
 * Joins finals: a space between two, none before a final that starts with
 * `, ; : . ? ! )`, and the line feeds of `lineBreaksBefore` (then no space).
 * A final that starts with one of `, ; : . ? !` takes the place of the
 * closing full stop before it (`selfish.` and `, was it` give `selfish, was
 * it`); only a full stop gives way, as scrivia closes every final with one.
 * A mark said again (`,` after `,`), or a closing mark after `?` or `!`, is
 * written once: the first stands.
 */
export class Transcript {
    private joined = '';

    /** Adds the next final written; returns the whole text. */
    add(final: Pick<FinalEvent, 'text' | 'lineBreaksBefore'>): string {
        let text = final.text;
        if (text === '') return this.joined;
        const breaks = Math.max(0, Math.floor(final.lineBreaksBefore ?? 0));
        const mark = text !== '' && ',;:.?!'.includes(text[0]!) ? text[0]! : '';
        const last = this.joined.slice(-1);
        if (breaks > 0 || this.joined === '') {
            this.joined += '\n'.repeat(breaks);
        } else if (mark && last === '.' && !dottedAbbreviation.test(this.joined)) {
            this.joined = this.joined.slice(0, -1);
        } else if (mark && (mark === last || ('?!'.includes(last) && '.?!'.includes(mark)))) {
            text = text.slice(1).trimStart();
            if (text !== '') this.joined += ' ';
        } else if (!mark && !text.startsWith(')')) {
            this.joined += ' ';
        }
        this.joined += text;
        return this.joined;
    }

    /** Everything dictated so far. */
    get text(): string {
        return this.joined;
    }

    /** The part of the text no later final can change: all but a closing full stop. */
    get fixed(): string {
        return this.joined.endsWith('.') ? this.joined.slice(0, -1) : this.joined;
    }

    toString(): string {
        return this.joined;
    }
}
