// Stand-in host: implementation follows.
