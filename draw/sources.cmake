# Sources of the effect in draw/.
